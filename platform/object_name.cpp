#include "platform/object_name.h"

#include <cstdint>
#include <cstdlib>

#include "platform/error.h"

namespace vantrel::platform {
namespace {

constexpr std::size_t kMaxScope = 64;
// File names may hold 255 bytes; keep well below with room for prefix, kind and digest.
constexpr std::size_t kMaxEncodedName = 160;
constexpr std::size_t kLongNamePrefix = 96;

bool plain(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-';
}

const char* kind_text(ObjectKind kind) {
    switch (kind) {
        case ObjectKind::shared_memory:
            return "shm";
        case ObjectKind::mutex:
            return "mtx";
        case ObjectKind::semaphore:
            return "sem";
    }
    return "obj";
}

// Two independent 64-bit FNV-1a runs; the digest only shortens the file name, the name stored in
// the object decides identity.
std::string digest(std::string_view text) {
    std::uint64_t a = 0xcbf29ce484222325ULL, b = 0x84222325cbf29ce4ULL;
    for (unsigned char c : text) {
        a = (a ^ c) * 0x100000001b3ULL;
        b = (b ^ c ^ 0x5a) * 0x100000001b3ULL;
    }
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (std::uint64_t v : {a, b})
        for (int shift = 60; shift >= 0; shift -= 4) out += hex[(v >> shift) & 0xf];
    return out;
}

}  // namespace

std::string encode_name(std::string_view text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (plain(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0xf];
        }
    }
    return out;
}

std::string ipc_scope() {
    const char* env = std::getenv("VANTREL_IPC_SCOPE");
    if (env == nullptr || *env == '\0') return "default";
    std::string scope = env;
    if (scope.size() > kMaxScope)
        throw_error(PlatformErrc::invalid_name, "VANTREL_IPC_SCOPE longer than 64 bytes", 0);
    return scope;
}

std::string object_file_name(std::string_view scope, ObjectKind kind, std::string_view name) {
    std::string encoded = encode_name(name);
    if (encoded.size() > kMaxEncodedName) {
        std::size_t cut = kLongNamePrefix;
        // Never cut inside a %XX escape.
        if (encoded[cut - 1] == '%')
            cut -= 1;
        else if (encoded[cut - 2] == '%')
            cut -= 2;
        encoded = encoded.substr(0, cut) + "~" + digest(name);
    }
    return std::string("vantrel.") + encode_name(scope) + "." + kind_text(kind) + "." + encoded;
}

}  // namespace vantrel::platform
