#pragma once
// The gateway's access token: a file of the gateway's own user that nobody else can read or
// replace, created with a fresh random token when missing.
//
// Policy for an existing file (in the manner of ssh's StrictModes): it is used only when the
// opened descriptor shows a regular file owned by the effective user with no permission for group
// or others; a symlink is never followed, a FIFO never waited on. A missing file is created
// exclusively (mode 0600), so a file someone plants at the path in the meantime is refused, not
// adopted.
//
// Thread safety: plain functions.

#include <stdexcept>
#include <string>
#include <string_view>

namespace vantrel::gateway {

// Thrown when the token file cannot be used; the message names the file and the cause.
class TokenError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct Token {
    std::string value;
    bool created = false;  // the file was made just now
};

// The token of `path`; a missing file is created with 256 random bits as 64 hex digits (missing
// directories above it are made with mode 0700). Throws TokenError.
Token load_or_create_token(const std::string& path);

// $XDG_CONFIG_HOME/vantrel/gateway.token, or $HOME/.config/vantrel/gateway.token.
std::string default_token_path();

// Compares in a time that does not depend on where the texts differ.
bool same_token(std::string_view expected, std::string_view given);

}  // namespace vantrel::gateway
