#pragma once
// The failure of reading a configuration file: a syntax error (" line N column M") or a
// failure of the input. The message is the complete text the owner of the store reports. It is
// the system's Exception, so owners catch it with every other failure.

#include <string>

#include "platform/exception.h"

namespace vantrel {

class ConfigError : public Exception {
  public:
    explicit ConfigError(const std::string& message) : Exception(message) {}
};

}  // namespace vantrel
