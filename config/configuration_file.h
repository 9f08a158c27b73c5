#pragma once
// The configuration store: the entries of one configuration or persistent-data file in memory,
// typed lookups by name, changes, and writing every entry back.
//
// Lookups take the first entry whose name matches exactly (case-sensitive); when that entry's
// type does not suit the operation, the name counts as missing even if a later entry would suit.
// No operation converts between types. A missing key is a false result, never an exception.
// The store has no lock: an owner that uses it from two threads serialises its calls.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/config_value.h"

namespace vantrel {

// Result codes of the file operations; callers treat any other code than Ok as failure.
enum ConfigResult : int {
    CONFIG_OK = 0,
    CONFIG_EXISTS = 1,         // save_as: target exists and overwriting was not allowed
    CONFIG_NOT_FOUND = 2,      // load_config, delete_config: nothing there; save: no file name
    CONFIG_IO_FAILED = 3,      // save: the file could not be written (old file kept);
                               // load_config: the path exists but cannot be read
    CONFIG_NO_DIRECTORY = 4,   // save_as: the directory neither exists nor can be created
    CONFIG_ACCESS_DENIED = 5,  // delete_config: refused for lack of access rights
    CONFIG_REMOVE_FAILED = 6,  // delete_config: failed for any other reason
};

class ConfigurationFile {
  public:
    // References to the elements of an array entry; they stay valid until that entry changes or
    // the store is reloaded or destroyed.
    using ElementRefs = std::vector<const ConfigValue*>;

    ConfigurationFile() = default;
    virtual ~ConfigurationFile() = default;
    ConfigurationFile(const ConfigurationFile&) = delete;
    ConfigurationFile& operator=(const ConfigurationFile&) = delete;

    // Lookups: true and `out` set when the first entry of that name has the type; else false and
    // `out` untouched. The 16-bit form gives the low 16 bits of an integer entry.
    virtual bool get(const std::string& name, ElementRefs& out);
    virtual bool get(const std::string& name, std::string& out);
    virtual bool get(const std::string& name, std::int16_t& out);
    virtual bool get(const std::string& name, std::int32_t& out);
    virtual bool get(const std::string& name, long& out);
    virtual bool get(const std::string& name, double& out);

    // Lookups with a default: when the lookup fails, the default is added (and so written by the
    // next save) and given back in `out`.
    virtual void get(const std::string& name, std::string& out, const std::string& fallback);
    virtual void get(const std::string& name, std::int16_t& out, std::int16_t fallback);
    virtual void get(const std::string& name, std::int32_t& out, std::int32_t fallback);
    virtual void get(const std::string& name, long& out, long fallback);
    virtual void get(const std::string& name, double& out, double fallback);

    // Sets the first entry of that name when it has the type, else appends a new entry (which
    // gives a second entry of the same name when the first one has another type).
    virtual void add(const std::string& name, const ConfigValue::Elements& elements);
    virtual void add(const std::string& name, const std::string& value);
    virtual void add(const std::string& name, double value);
    virtual void add(const std::string& name, std::int32_t value);
    virtual void add(const std::string& name, long value);

    // Replaces the value of the first entry of that name when it has the type; else false and
    // nothing changes. Integers are 32-bit: a long outside that range is clamped to it.
    virtual bool set(const std::string& name, const ConfigValue::Elements& elements);
    virtual bool set(const std::string& name, const std::string& value);
    virtual bool set(const std::string& name, std::int32_t value);
    virtual bool set(const std::string& name, long value);
    virtual bool set(const std::string& name, double value);

    // `set`, or `add` when that finds nothing to set.
    virtual void set_or_add(const std::string& name, const ConfigValue::Elements& elements);
    virtual void set_or_add(const std::string& name, const std::string& value);
    virtual void set_or_add(const std::string& name, std::int32_t value);
    virtual void set_or_add(const std::string& name, long value);
    virtual void set_or_add(const std::string& name, double value);

    // The largest file load_config reads: far beyond any real configuration or statistics file,
    // small enough that loading one is quick and its memory bounded.
    static constexpr std::size_t kMaxFileBytes = 8 * 1024 * 1024;

    // Replaces the entries by those of the file and makes its normalised path the file name.
    // 2 when the path names nothing, 3 when it exists but cannot be read (not a regular file,
    // larger than kMaxFileBytes, no access, an input error): in both cases the store, file name
    // included, is unchanged, and load_failure() says why. Never waits for a FIFO or a device.
    // Throws ConfigError on a syntax error; the entries read before it stay, the previous ones
    // are gone.
    virtual int load_config(const std::string& path);
    // Reloads the current file; 2 when there is none.
    virtual int load_config();

    // Writes every entry, one canonical line each, to the file name: 2 without a file name. The
    // whole text goes to a new file in the same directory, flushed to disk and renamed over the
    // target, keeping the target's permission bits; on any failure the result is 3 and the old
    // file is untouched.
    virtual int save();
    // Makes `path` (as given) the file name and saves: 1 when the target exists and `overwrite`
    // is false, 4 when its directory is missing and cannot be created (file name unchanged).
    virtual int save_as(const std::string& path, bool overwrite);
    // Removes the file at `path` without touching the store: 2 missing, 5 access refused,
    // 6 any other failure.
    virtual int delete_config(const std::string& path);

    // The directory of the file name, with its trailing separator, or "./".
    virtual std::string directory() const;

    const std::string& file_name() const { return file_name_; }
    // Why the last save failed, in the system's words ("File too large"); empty after a success.
    const std::string& save_error() const { return save_error_; }
    // False when the last load stopped silently before the end of its file (at a line that
    // cannot begin an entry): the store then lacks whatever followed. Saving would drop it.
    bool last_load_complete() const { return complete_; }
    // Why the last load_config returned 3 ("not a regular file (a FIFO)"); empty otherwise.
    const std::string& load_failure() const { return load_failure_; }
    const std::vector<ConfigValue>& entries() const { return entries_; }

  private:
    ConfigValue* find(const std::string& name, ValueType type);
    bool get_integer(const std::string& name, std::int32_t& out);
    bool set_integer(const std::string& name, std::int32_t value);
    void add_integer(const std::string& name, std::int32_t value);

    std::string file_name_;
    std::vector<ConfigValue> entries_;
    bool complete_ = true;
    std::string load_failure_;
    std::string save_error_;
};

}  // namespace vantrel
