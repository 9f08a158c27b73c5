// libFuzzer target for the configuration reader. Beyond "no crash, no leak, no hang" it checks
// that whatever the reader accepts is written back as text that reads as the same entries, that a
// failure is always a syntax error with its position, and that the input taken as one string
// value reads back byte for byte exactly when storable_string accepts it.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "config/config_error.h"
#include "config/config_reader.h"

namespace {

// Lexical problems are reported on the standard error stream, one line per dropped character;
// for random input that is only noise.
class DiscardBuffer : public std::streambuf {
  protected:
    int overflow(int c) override { return c; }
};

void fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "%s: %s\n", what, detail.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static DiscardBuffer discard;
    std::cerr.rdbuf(&discard);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<vantrel::ConfigValue> entries;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    try {
        vantrel::parse_config(in, entries);
    } catch (const vantrel::ConfigError& e) {
        const std::string message = e.what();
        if (message.rfind(" line ", 0) != 0) fail("unexpected failure", message);
    }

    std::string written;
    for (const auto& entry : entries) written += entry.to_text() + "\n";
    std::vector<vantrel::ConfigValue> again;
    std::istringstream reread(written);
    try {
        vantrel::parse_config(reread, again);
    } catch (const vantrel::ConfigError& e) {
        fail("written entries do not read back", std::string(e.what()) + "\n" + written);
    }
    if (again.size() != entries.size()) fail("entry count changed", written);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (again[i].to_text() != entries[i].to_text()) {
            fail("entry changed", entries[i].to_text() + " -> " + again[i].to_text());
        }
    }

    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<vantrel::ConfigValue> value;
    std::istringstream value_text(vantrel::ConfigValue("T", text).to_text() + "\n");
    bool same = false;
    try {
        vantrel::parse_config(value_text, value);
        same = value.size() == 1 && value[0].type() == vantrel::ValueType::String &&
               value[0].string_value() == text;
    } catch (const vantrel::ConfigError&) {
    }
    if (same != vantrel::storable_string(text))
        fail(same ? "a string that reads back is refused" : "a stored string reads back changed",
             text);
    return 0;
}
