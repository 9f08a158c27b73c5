#include "selector/column_stats.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "config/file_io.h"
#include "platform/exception.h"

namespace vantrel {
namespace {

std::string type_key(int column) {
    return "COL" + std::to_string(column) + "TYPE";
}
std::string count_key(int column) {
    return "COL" + std::to_string(column) + "COUNT";
}
std::string missing(const std::string& key) {
    return "persistent data file missing " + key + " definition";
}

bool present(const ConfigurationFile& store, const std::string& key) {
    const auto& entries = store.entries();
    return std::any_of(entries.begin(), entries.end(),
                       [&](const ConfigValue& entry) { return entry.name() == key; });
}

std::string errno_text() {
    return std::strerror(errno);
}

// Copies the file at `path` byte for byte to a new file beside it named after the date and time
// (never over an existing one, with the original's permission bits). Empty on success, else why.
std::string copy_aside(const std::string& path, std::string& copy) {
    std::string text, failure;
    mode_t mode = 0;
    if (!read_whole_file(path, ConfigurationFile::kMaxFileBytes, text, failure, &mode))
        return path + ": " + failure;

    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", ::localtime_r(&now, &local));
    int out = -1;
    for (int n = 1; out < 0 && n <= 100; ++n) {
        copy = path + ".unread-" + stamp + (n > 1 ? "-" + std::to_string(n) : "");
        out = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 0666);
        if (out < 0 && errno != EEXIST) break;
    }
    if (out < 0) return copy + ": " + errno_text();
    const bool ok = write_all(out, text) && ::fsync(out) == 0;
    std::string error = ok ? "" : copy + ": " + errno_text();
    if (::close(out) != 0 && ok) error = copy + ": " + errno_text();
    if (!error.empty()) ::unlink(copy.c_str());
    return error;
}

}  // namespace

ColumnStats::ColumnStats(VantrelParams& params, Log log) : params_(params), log_(std::move(log)) {}

void ColumnStats::open() {
    const std::string path = params_.stats_path();
    int result = CONFIG_OK;
    try {
        result = store_.load_config(path);
    } catch (const std::exception& e) {
        refusal_ = store_.file_name() + " failed to load";
        log_("persistent data in " + path + " failed to load; it is kept as it is and not written");
        throw Exception(e.what());
    }
    if (result == CONFIG_NOT_FOUND) {
        refusal_.clear();
        store_.save_as(path, true);
        log_("Creating stats file " + path);
        write();
    } else if (result != CONFIG_OK) {
        refusal_ = path + " failed to load";
        throw Exception("can't read persistent data file " + path);
    } else if (!store_.last_load_complete()) {
        // The reader stopped at a line it could not take: what follows it is not in the store.
        // With every column read, the statistics go on from a copy of the whole original.
        if (!holds_every_column() || !keep_original(store_.file_name())) {
            refusal_ = store_.file_name() + " failed to load";
            throw Exception("persistent data file " + path + " could not be read to its end");
        }
        refusal_.clear();
        read();
        write();
        return;
    }
    refusal_.clear();
    read();
}

void ColumnStats::read() {
    // Every entry that is there is taken, also after a missing one: the next write puts the
    // settings back into the file, and a column left unread would overwrite what the file holds.
    std::string first_missing;
    const auto note = [&](const std::string& key) {
        if (first_missing.empty()) first_missing = key;
        // Under its name but of another type: a write would add a second entry, never read.
        if (refusal_.empty() && present(store_, key))
            refusal_ = store_.file_name() + " holds " + key + " of another type";
    };
    for (int i = 1; i <= params_.capacity(); ++i) {
        std::string type;
        if (store_.get(type_key(i), type))
            params_.set_column_type(i, type);
        else
            note(type_key(i));
        std::int32_t count = 0;
        if (store_.get(count_key(i), count))
            params_.set_sample_count(i, count);
        else
            note(count_key(i));
    }
    if (!first_missing.empty()) throw Exception(missing(first_missing));
}

bool ColumnStats::holds_every_column() {
    std::string type;
    std::int32_t count = 0;
    for (int i = 1; i <= params_.capacity(); ++i)
        if (!store_.get(type_key(i), type) || !store_.get(count_key(i), count)) return false;
    return true;
}

bool ColumnStats::keep_original(const std::string& path) {
    std::string kept;
    std::string error = copy_aside(path, kept);
    if (!error.empty()) {
        log_("persistent data file " + path +
             " was not read to its end and could not be kept: " + error);
        return false;
    }
    log_("persistent data file " + path + " was not read to its end; the original is kept as " +
         kept);
    return true;
}

void ColumnStats::write() {
    if (!refusal_.empty()) {
        log_("persistent data not written: " + refusal_);
        return;
    }
    for (int i = 1; i <= params_.capacity(); ++i) {
        if (!store_.set(type_key(i), params_.column_type(i))) {
            store_.add(type_key(i), params_.column_type(i));
            log_(missing(type_key(i)));
        }
        if (!store_.set(count_key(i), static_cast<std::int32_t>(params_.sample_count(i)))) {
            store_.add(count_key(i), static_cast<std::int32_t>(params_.sample_count(i)));
            log_(missing(count_key(i)));
        }
    }
    // A failed write (a full disk) keeps the old file whole; the next write tries again.
    if (store_.save() != CONFIG_OK)
        log_("persistent data not written: " + store_.file_name() + ": " + store_.save_error());
}

}  // namespace vantrel
