#include "selector/column_stats.h"

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

}  // namespace

ColumnStats::ColumnStats(VantrelParams& params, Log log) : params_(params), log_(std::move(log)) {}

void ColumnStats::open() {
    const std::string path = params_.stats_path();
    int result = CONFIG_OK;
    try {
        result = store_.load_config(path);
    } catch (const std::exception& e) {
        load_failed_ = true;
        log_("persistent data in " + path + " failed to load; it is kept as it is and not written");
        throw Exception(e.what());
    }
    if (result == CONFIG_NOT_FOUND) {
        load_failed_ = false;
        store_.save_as(path, true);
        log_("Creating stats file " + path);
        write();
    } else if (result != CONFIG_OK) {
        load_failed_ = true;
        throw Exception("can't read persistent data file " + path);
    } else if (!store_.last_load_complete()) {
        // The reader stopped at a line it could not take: what follows it is not in the store.
        load_failed_ = true;
        throw Exception("persistent data file " + path + " could not be read to its end");
    }
    load_failed_ = false;
    read();
}

void ColumnStats::read() {
    // Every entry that is there is taken, also after a missing one: the next write puts the
    // settings back into the file, and a column left unread would overwrite what the file holds.
    std::string first_missing;
    for (int i = 1; i <= params_.capacity(); ++i) {
        std::string type;
        if (store_.get(type_key(i), type))
            params_.set_column_type(i, type);
        else if (first_missing.empty())
            first_missing = type_key(i);
        std::int32_t count = 0;
        if (store_.get(count_key(i), count))
            params_.set_sample_count(i, count);
        else if (first_missing.empty())
            first_missing = count_key(i);
    }
    if (!first_missing.empty()) throw Exception(missing(first_missing));
}

void ColumnStats::write() {
    if (load_failed_) {
        log_("persistent data not written: " + store_.file_name() + " failed to load");
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
    store_.save();
}

}  // namespace vantrel
