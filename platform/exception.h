#pragma once
// The system's own exception: one complete message text, given at construction.
// Thrown by value, caught by reference.

#include <exception>
#include <string>

namespace vantrel {

class Exception : public std::exception {
  public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const std::string& message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

  private:
    std::string message_;
};

}  // namespace vantrel
