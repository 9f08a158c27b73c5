#pragma once
// A selector configuration for tests: fast simulated motions, a 6-column rotor unless told
// otherwise, statistics in "columns.dat" beside the configuration file.

#include <string>

namespace vantrel::test {

inline std::string selector_config(int device_present = 1, int rotor_pattern = 440) {
    return "FREQ = 10;\n"
           "LOGSERVERIF = \"NoLogServer\";\n"
           "COLUMNSTATS = \"columns.dat\";\n"
           "DEVICE_PRESENT = " +
           std::to_string(device_present) +
           ";\n"
           "POS0 = 200;\nPOS1 = 1000;\n"
           "GRIPPERSTROKE = 1000;\nGRIPPERVELOCITY = 20000;\nGRIPPERACCEL = 400000;\n"
           "ROTORVELOCITY = 20000;\nROTORACCEL = 400000;\n"
           "ROTORPATTERN = " +
           std::to_string(rotor_pattern) +
           ";\n"
           "BUZZDURATION = 0.1;\nBUZZAMPLITUDE = 20;\n"
           "AUTO_COLUMN_SWITCH = 1;\nP1_PRES_LIMIT = 2.5;\nP3_PRES_LIMIT = 7.25;\nSAMPLE_LIMIT = "
           "500;\n";
}

}  // namespace vantrel::test
