#pragma once
// The failure of reading a configuration file: a syntax error (" line N column M") or a
// failure of the input. The message is the complete text the owner of the store reports.

#include <stdexcept>
#include <string>

namespace vantrel {

class ConfigError : public std::runtime_error {
  public:
    explicit ConfigError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace vantrel
