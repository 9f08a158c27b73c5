#pragma once
// NamedObject: a block of memory shared by every process of one scope that opens the same name.
//
// Lifetime follows kernel objects: the object exists while some process holds it open. Each holder
// keeps a shared open-file-description lock on the object's file, which the kernel drops when the
// holder closes it or dies. An opener that finds no other holder (it can take the lock exclusively)
// re-initialises the object: zero-filled at the requested size, then the init function runs. So a
// crashed process never leaves stale contents behind for the next opener. Opening and closing are
// serialised by a second lock (the gate), so two openers never both take a dead object as live.
// The last holder to close removes the file.
//
// Thread safety: one NamedObject may be used from several threads for data(); open and close are
// not reentrant for one instance.

#include <cstddef>
#include <functional>
#include <string>

#include "platform/object_name.h"

namespace vantrel::platform {

enum class OpenMode {
    create_or_open,  // create when no process holds it, else open the live one
    open_existing,   // open a live object only; PlatformError(not_found) otherwise
};

class NamedObject {
  public:
    // Runs once on a freshly created payload (already zero-filled), before any other process can
    // see it.
    using Initialiser = std::function<void(void* payload, std::size_t size)>;

    // Opens the object `name` of `kind` in this process's scope. `payload_size` is the size asked
    // for at creation; an existing object keeps the size it was created with (see size()).
    // Throws PlatformError.
    NamedObject(ObjectKind kind, std::string_view name, std::size_t payload_size, OpenMode mode,
                const Initialiser& init = nullptr);
    ~NamedObject();

    NamedObject(const NamedObject&) = delete;
    NamedObject& operator=(const NamedObject&) = delete;

    void* data() const noexcept { return payload_; }
    std::size_t size() const noexcept { return payload_size_; }
    bool created() const noexcept { return created_; }
    const std::string& path() const noexcept { return path_; }
    int creator_pid() const noexcept;

  private:
    void attach_existing(const std::string& name);
    void create_fresh(const std::string& name, std::size_t payload_size, const Initialiser& init);
    void detach() noexcept;

    std::string path_;
    int fd_ = -1;
    void* map_ = nullptr;
    std::size_t map_size_ = 0;
    void* payload_ = nullptr;
    std::size_t payload_size_ = 0;
    bool created_ = false;
};

// Removes the files of every object of `scope` that no live process holds (left by processes that
// were killed). Objects in use are left alone. Returns how many were removed.
std::size_t remove_unheld_objects(std::string_view scope);

}  // namespace vantrel::platform
