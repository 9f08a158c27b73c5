#include "config/configuration_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sstream>

#include "config/config_reader.h"
#include "config/file_io.h"
#include "config/paths.h"
#include "platform/file_status.h"

namespace vantrel {

namespace {

std::int32_t clamp_to_int32(long value) {
    return static_cast<std::int32_t>(std::clamp<long>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// The name under which the file system knows a path: as given when that exists, else the
// normalised form, so that a path written with backslashes or quotes names the same file.
std::string on_disk(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) return path;
    std::string copy = path;
    normalize_path(copy);
    return copy;
}

// The directory part for the file system, where only '/' separates.
std::string parent_of(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return "./";
    return path.substr(0, slash + 1);
}

// Opens a new file next to `target` that nobody else uses. Created like any new file (mode 0666
// less the umask); the caller gives it the target's bits when the target exists.
int create_temporary(const std::string& target, std::string& temp_name) {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp_name = parent_of(target) + ".cfgtmp-" + std::to_string(::getpid()) + "-" +
                    std::to_string(stamp + attempt);
        const int fd = ::open(temp_name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// Makes the rename itself durable. A failure here cannot be undone (the new file is already in
// place), so it is not reported.
void sync_directory(const std::string& directory) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Replaces the file at `path` by `text` so that the path always holds either the old or the new
// text completely, even across a crash or a full disk.
bool replace_file(const std::string& path, const std::string& text) {
    std::string target = on_disk(path);
    struct stat st {};
    bool exists = ::lstat(target.c_str(), &st) == 0;
    if (exists && S_ISLNK(st.st_mode)) {
        // Write through a symbolic link to the file it names, as writing in place would.
        if (char* resolved = ::realpath(target.c_str(), nullptr)) {
            target = resolved;
            std::free(resolved);
            exists = ::stat(target.c_str(), &st) == 0;
        }
    }
    // A directory or device is not a configuration file; a write-protected file stays as it is.
    if (exists && !S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return false;

    std::string temp_name;
    const int fd = create_temporary(target, temp_name);
    if (fd < 0) return false;
    bool ok = write_all(fd, text);
    if (ok && exists) {
        // Best effort on the owner (only a privileged process may give a file away); the
        // permission bits must match, and are set after chown, which may clear some of them.
        if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) {
            [[maybe_unused]] const int ignored = ::fchown(fd, st.st_uid, st.st_gid);
        }
        ok = ::fchmod(fd, st.st_mode & 07777) == 0;
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp_name.c_str(), target.c_str()) == 0;
    if (!ok) {
        const int cause = errno;
        ::unlink(temp_name.c_str());
        errno = cause;
        return false;
    }
    sync_directory(parent_of(target));
    return true;
}

}  // namespace

ConfigValue* ConfigurationFile::find(const std::string& name, ValueType type) {
    const auto it = std::find_if(entries_.begin(), entries_.end(),
                                 [&](const ConfigValue& v) { return v.name() == name; });
    if (it == entries_.end() || it->type() != type) return nullptr;
    return &*it;
}

bool ConfigurationFile::get(const std::string& name, ElementRefs& out) {
    const ConfigValue* entry = find(name, ValueType::Array);
    if (entry == nullptr) return false;
    out.clear();
    for (const auto& element : entry->elements()) out.push_back(&element);
    return true;
}

bool ConfigurationFile::get(const std::string& name, std::string& out) {
    const ConfigValue* entry = find(name, ValueType::String);
    if (entry == nullptr) return false;
    out = entry->string_value();
    return true;
}

bool ConfigurationFile::get(const std::string& name, std::int16_t& out) {
    const ConfigValue* entry = find(name, ValueType::Integer);
    if (entry == nullptr) return false;
    out = entry->short_value();
    return true;
}

bool ConfigurationFile::get_integer(const std::string& name, std::int32_t& out) {
    const ConfigValue* entry = find(name, ValueType::Integer);
    if (entry == nullptr) return false;
    out = entry->int_value();
    return true;
}

bool ConfigurationFile::get(const std::string& name, std::int32_t& out) {
    return get_integer(name, out);
}

bool ConfigurationFile::get(const std::string& name, long& out) {
    std::int32_t value = 0;
    if (!get_integer(name, value)) return false;
    out = value;
    return true;
}

bool ConfigurationFile::get(const std::string& name, double& out) {
    const ConfigValue* entry = find(name, ValueType::Real);
    if (entry == nullptr) return false;
    out = entry->real_value();
    return true;
}

void ConfigurationFile::get(const std::string& name, std::string& out,
                            const std::string& fallback) {
    if (get(name, out)) return;
    add(name, fallback);
    out = fallback;
}

void ConfigurationFile::get(const std::string& name, std::int16_t& out, std::int16_t fallback) {
    if (get(name, out)) return;
    add(name, static_cast<long>(fallback));
    out = fallback;
}

void ConfigurationFile::get(const std::string& name, std::int32_t& out, std::int32_t fallback) {
    if (get(name, out)) return;
    add(name, fallback);
    out = fallback;
}

void ConfigurationFile::get(const std::string& name, long& out, long fallback) {
    if (get(name, out)) return;
    add(name, fallback);
    // What is stored is what a later lookup gives back.
    out = clamp_to_int32(fallback);
}

void ConfigurationFile::get(const std::string& name, double& out, double fallback) {
    if (get(name, out)) return;
    add(name, fallback);
    out = fallback;
}

void ConfigurationFile::add(const std::string& name, const ConfigValue::Elements& elements) {
    if (!set(name, elements)) entries_.emplace_back(name, elements);
}

void ConfigurationFile::add(const std::string& name, const std::string& value) {
    if (!set(name, value)) entries_.emplace_back(name, value);
}

void ConfigurationFile::add(const std::string& name, double value) {
    if (!set(name, value)) entries_.emplace_back(name, value);
}

void ConfigurationFile::add_integer(const std::string& name, std::int32_t value) {
    if (!set_integer(name, value)) entries_.emplace_back(name, value);
}

void ConfigurationFile::add(const std::string& name, std::int32_t value) {
    add_integer(name, value);
}

void ConfigurationFile::add(const std::string& name, long value) {
    add_integer(name, clamp_to_int32(value));
}

bool ConfigurationFile::set(const std::string& name, const ConfigValue::Elements& elements) {
    ConfigValue* entry = find(name, ValueType::Array);
    if (entry == nullptr) return false;
    entry->set_elements(elements);
    return true;
}

bool ConfigurationFile::set(const std::string& name, const std::string& value) {
    ConfigValue* entry = find(name, ValueType::String);
    if (entry == nullptr) return false;
    entry->set_string(value);
    return true;
}

bool ConfigurationFile::set_integer(const std::string& name, std::int32_t value) {
    ConfigValue* entry = find(name, ValueType::Integer);
    if (entry == nullptr) return false;
    entry->set_int(value);
    return true;
}

bool ConfigurationFile::set(const std::string& name, std::int32_t value) {
    return set_integer(name, value);
}

bool ConfigurationFile::set(const std::string& name, long value) {
    return set_integer(name, clamp_to_int32(value));
}

bool ConfigurationFile::set(const std::string& name, double value) {
    ConfigValue* entry = find(name, ValueType::Real);
    if (entry == nullptr) return false;
    entry->set_real(value);
    return true;
}

void ConfigurationFile::set_or_add(const std::string& name, const ConfigValue::Elements& elements) {
    add(name, elements);
}

void ConfigurationFile::set_or_add(const std::string& name, const std::string& value) {
    add(name, value);
}

void ConfigurationFile::set_or_add(const std::string& name, std::int32_t value) {
    add(name, value);
}

void ConfigurationFile::set_or_add(const std::string& name, long value) {
    add(name, value);
}

void ConfigurationFile::set_or_add(const std::string& name, double value) {
    add(name, value);
}

int ConfigurationFile::load_config(const std::string& path) {
    load_failure_.clear();
    if (!file_exists(path)) return CONFIG_NOT_FOUND;
    std::string normalised = path;
    normalize_path(normalised);
    // Read everything before touching the store: a path that exists but cannot be read (a
    // directory, a FIFO, no read permission, an input error, too large) leaves the store as it
    // was.
    std::string text;
    if (!read_whole_file(normalised, kMaxFileBytes, text, load_failure_)) return CONFIG_IO_FAILED;
    file_name_ = std::move(normalised);
    entries_.clear();
    std::istringstream in(std::move(text));
    complete_ = false;
    complete_ = parse_config(in, entries_);
    return CONFIG_OK;
}

int ConfigurationFile::load_config() {
    return load_config(file_name_);
}

int ConfigurationFile::save() {
    save_error_.clear();
    if (file_name_.empty()) {
        save_error_ = "no file name";
        return CONFIG_NOT_FOUND;
    }
    std::string text;
    for (const auto& entry : entries_) {
        text += entry.to_text();
        text += '\n';
    }
    if (replace_file(file_name_, text)) return CONFIG_OK;
    save_error_ = std::strerror(errno);
    return CONFIG_IO_FAILED;
}

int ConfigurationFile::save_as(const std::string& path, bool overwrite) {
    if (!overwrite && file_exists(path)) return CONFIG_EXISTS;
    const std::string directory = directory_of(path);
    if (!file_exists(directory) && !make_directories(directory)) return CONFIG_NO_DIRECTORY;
    file_name_ = path;
    return save();
}

int ConfigurationFile::delete_config(const std::string& path) {
    if (!file_exists(path)) return CONFIG_NOT_FOUND;
    if (::unlink(on_disk(path).c_str()) == 0) return CONFIG_OK;
    return errno == EACCES || errno == EPERM ? CONFIG_ACCESS_DENIED : CONFIG_REMOVE_FAILED;
}

std::string ConfigurationFile::directory() const {
    return directory_of(file_name_);
}

}  // namespace vantrel
