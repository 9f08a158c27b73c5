#pragma once
// NamedObject: a block of memory shared by every process of one scope that opens the same name.
//
// Lifetime follows kernel objects: the object exists while some process holds it open. Each holder
// keeps a shared open-file-description lock on the object's file (kHolderLockByte), which the
// kernel drops when the holder closes it or dies. Opening and closing are serialised by a second
// lock (kGateLockByte, the gate), so two openers never both take a dead object as live. The last
// holder to close removes the file.
//
// Trust: the object's file must belong to this process's effective user. A new file is created
// exclusively (O_EXCL, mode 0600, never through a symbolic link). An existing file is used only
// when the open descriptor shows a regular file with one link, owned by the effective user, with no
// permission for group or others, whose size and header are those its creator wrote (a header
// naming this very object and its kind, and a size matching the payload size it records). Anything
// else is refused (PlatformError untrusted or invalid_object, naming the file, its type, owner and
// mode); nothing is adopted, repaired or re-initialised in place. A file of our own that no process
// holds (its creator was killed) is removed and replaced by a fresh one, so a dead process never
// leaves stale contents behind for the next opener.
//
// Waits: every wait on another process's lock (the gate, the holder lock) polls until a limit and
// then fails with PlatformError(timed_out) naming the file. Opening and closing one object each
// take at most its wait limit; remove_unheld_objects never waits.
//
// Thread safety: one NamedObject may be used from several threads for data(); open and close are
// not reentrant for one instance.

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>

#include "platform/deadline.h"
#include "platform/object_name.h"

namespace vantrel::platform {

enum class OpenMode {
    create_or_open,  // create when no process holds it, else open the live one
    open_existing,   // open a live object only; PlatformError(not_found) otherwise
};

// Byte ranges of the object file used as locks; they lie in the header, which never changes size.
inline constexpr off_t kHolderLockByte = 0;
inline constexpr off_t kGateLockByte = 1;

// How long opening or closing an object waits for another process's lock unless told otherwise.
// Peers hold the gate for microseconds; only a stuck or hostile one holds it longer.
inline constexpr long kDefaultWaitLimitMs = 2000;

class NamedObject {
  public:
    // Runs once on a freshly created payload (already zero-filled), before any other process can
    // see it.
    using Initialiser = std::function<void(void* payload, std::size_t size)>;

    // Opens the object `name` of `kind` in this process's scope. `payload_size` is the size asked
    // for at creation; an existing object keeps the size it was created with (see size()).
    // `wait_limit_ms` bounds the waits of opening (all together) and of closing (0: do not wait).
    // Throws PlatformError.
    NamedObject(ObjectKind kind, std::string_view name, std::size_t payload_size, OpenMode mode,
                const Initialiser& init = nullptr, long wait_limit_ms = kDefaultWaitLimitMs);
    ~NamedObject();

    NamedObject(const NamedObject&) = delete;
    NamedObject& operator=(const NamedObject&) = delete;

    void* data() const noexcept { return payload_; }
    std::size_t size() const noexcept { return payload_size_; }
    bool created() const noexcept { return created_; }
    const std::string& path() const noexcept { return path_; }
    int creator_pid() const noexcept;

  private:
    enum class Opened { existing, created };

    Opened open_current_file(OpenMode mode, const Deadline& deadline);
    [[noreturn]] void replaced_too_often() const;
    bool join_or_create(Opened opened, OpenMode mode, const std::string& name,
                        std::size_t payload_size, const Initialiser& init,
                        const Deadline& deadline);
    void attach_existing(const std::string& name);
    void create_fresh(const std::string& name, std::size_t payload_size, const Initialiser& init);
    void release() noexcept;
    void detach() noexcept;

    ObjectKind kind_;
    std::string path_;
    long wait_limit_ms_;
    int fd_ = -1;
    void* map_ = nullptr;
    std::size_t map_size_ = 0;
    void* payload_ = nullptr;
    std::size_t payload_size_ = 0;
    bool created_ = false;
};

// Removes the files of every object of `scope` that no live process holds (left by processes that
// were killed). Objects in use, being opened or closed, and files that are not this user's own are
// left alone; nothing waits. Returns how many were removed.
std::size_t remove_unheld_objects(std::string_view scope);

}  // namespace vantrel::platform
