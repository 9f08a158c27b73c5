#pragma once
// The column statistics file: each column's type text (COL<i>TYPE) and sample count
// (COL<i>COUNT), kept across restarts in a configuration-format file. Entries of columns beyond
// the capacity, and entries of other names, are carried along untouched.
//
// A file that failed to load, or whose reading stopped early at a line it could not take, is never
// written back: its store holds only the entries before the damage, and writing them would lose
// every later column. Writes resume once a load succeeds.
//
// Thread safety: used by the component's main thread only; values move to and from the shared
// VantrelParams one lock hold at a time.

#include <functional>
#include <string>

#include "config/configuration_file.h"
#include "selector/vantrel_params.h"

namespace vantrel {

class ColumnStats {
  public:
    using Log = std::function<void(const std::string&)>;

    ColumnStats(VantrelParams& params, Log log);

    // Loads the file at the settings' stats path, creating it with every entry when it does not
    // exist, then reads it. Throws Exception when the file cannot be parsed or read, or lacks an
    // entry of a column up to the capacity.
    void open();
    // Copies the file's entries of columns 1..capacity into the settings, every one that is
    // there. Then throws Exception "persistent data file missing <key> definition" naming the
    // first missing or mistyped entry, if any.
    void read();
    // Copies the settings into the entries (adding missing ones, with a log line each) and writes
    // the whole file atomically, unless the last load failed.
    void write();

    const ConfigurationFile& store() const { return store_; }

  private:
    VantrelParams& params_;
    Log log_;
    ConfigurationFile store_;
    bool load_failed_ = false;
};

}  // namespace vantrel
