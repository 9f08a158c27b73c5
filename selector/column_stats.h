#pragma once
// The column statistics file: each column's type text (COL<i>TYPE) and sample count
// (COL<i>COUNT), kept across restarts in a configuration-format file. Entries of columns beyond
// the capacity, and entries of other names, are carried along untouched.
//
// Writing never makes a damaged file worse:
// - A file that failed to load, or whose reading stopped early at a line it could not take before
//   every column was read, is never written back: its store holds only the entries before the
//   damage, and writing them would lose every later column.
// - A file whose reading stopped early after every column was read is taken: the original is
//   first kept beside it, byte for byte, as <name>.unread-<date>-<time>, and the statistics are
//   then written whole.
// - A file holding an entry of a column under its name but of another type (a count written as a
//   real) is not written either: each write would add a second entry that is never read.
// - A file that merely lacks entries (a rotor that grew from 6 to 12 columns) gets them from the
//   next write.
// Writes resume once a load and read succeed. Every refused or failed write is logged with its
// cause; the values stay in memory and the next write tries again.
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
    // the whole file atomically, unless writing is refused (see above).
    void write();

    const ConfigurationFile& store() const { return store_; }

  private:
    bool holds_every_column();
    bool keep_original(const std::string& path);

    VantrelParams& params_;
    Log log_;
    ConfigurationFile store_;
    // Why the file must not be written, or empty.
    std::string refusal_;
};

}  // namespace vantrel
