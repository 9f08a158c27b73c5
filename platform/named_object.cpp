#include "platform/named_object.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/error.h"
#include "platform/file_status.h"

namespace vantrel::platform {
namespace {

constexpr std::uint64_t kMagic = 0x324a424f4c4e5456ULL;  // "VTNLOBJ2"
constexpr std::size_t kPayloadAlignment = 64;

// The first bytes of every object file. The creator writes it whole, the magic last, while it holds
// the gate; it never changes afterwards.
struct Header {
    std::uint64_t magic;
    std::uint32_t kind;
    std::uint32_t reserved;
    std::uint64_t payload_offset;
    std::uint64_t payload_size;
    std::uint64_t name_size;
    std::int64_t creator_pid;
    // followed by the name's bytes
};

std::size_t align_up(std::size_t value, std::size_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

std::size_t payload_offset_for(std::size_t name_size) {
    return align_up(sizeof(Header) + name_size, kPayloadAlignment);
}

// One try at a lock byte of an open file description: 0, or the errno of the failure (EAGAIN or
// EACCES while another description holds a conflicting lock).
int ofd_lock(int fd, off_t byte, short type) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = byte;
    fl.l_len = 1;
    while (::fcntl(fd, F_OFD_SETLK, &fl) != 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

// Tries the lock until `deadline`, pausing a little longer after each refusal: 0, ETIMEDOUT, or
// the errno of another failure. The kernel's waiting lock call has no time limit, hence the polls.
int ofd_lock_until(int fd, off_t byte, short type, const Deadline& deadline) {
    std::int64_t pause_ns = 50'000;
    for (;;) {
        const int err = ofd_lock(fd, byte, type);
        if (err != EAGAIN && err != EACCES) return err;
        const std::int64_t left = deadline.left_ns();
        if (left == 0) return ETIMEDOUT;
        const std::int64_t ns = std::min(pause_ns, left);
        struct timespec pause {
            static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)
        };
        ::nanosleep(&pause, nullptr);
        pause_ns = std::min<std::int64_t>(pause_ns * 2, 5'000'000);
    }
}

// The gate of one object file, held from construction (when obtained by the deadline) to
// destruction. Whoever opens, closes or removes the object holds it meanwhile.
class Gate {
  public:
    Gate(int fd, const Deadline& deadline)
        : fd_(fd), error_(ofd_lock_until(fd, kGateLockByte, F_WRLCK, deadline)) {}
    ~Gate() {
        if (error_ == 0) ofd_lock(fd_, kGateLockByte, F_UNLCK);
    }
    Gate(const Gate&) = delete;
    Gate& operator=(const Gate&) = delete;

    bool held() const { return error_ == 0; }
    // 0 when held, ETIMEDOUT when another process held it until the deadline, else the errno.
    int error() const { return error_; }

  private:
    int fd_;
    int error_;
};

// True while `fd` is still the file that `path` names (same device and inode, not unlinked): the
// last holder may have removed or replaced the file since it was opened.
bool still_at_path(int fd, const std::string& path) {
    struct stat ours {
    }, current{};
    return ::fstat(fd, &ours) == 0 && ::lstat(path.c_str(), &current) == 0 &&
           ours.st_dev == current.st_dev && ours.st_ino == current.st_ino && ours.st_nlink > 0;
}

// "a FIFO, owner nobody (uid 65534), mode 0666"
std::string describe(const struct stat& st) {
    std::string text = std::string(file_type_text(st.st_mode)) + ", owner " + user_text(st.st_uid) +
                       ", mode " + mode_text(st.st_mode);
    if (S_ISREG(st.st_mode) && st.st_nlink != 1)
        text += ", " + std::to_string(st.st_nlink) + " links";
    return text;
}

// A file this process may use as an object: a regular file of its effective user that no other
// user can read or write, reachable under no other name. No name at all is fine: the last holder
// removed it since it was opened, and the opener starts over once it has the gate.
bool trusted(const struct stat& st) {
    return S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0 &&
           st.st_nlink <= 1;
}

[[noreturn]] void refuse(const std::string& path, const struct stat& st) {
    throw_error(PlatformErrc::untrusted,
                path + " is " + describe(st) + "; only a private regular file of " +
                    user_text(::geteuid()) + " is used",
                0);
}

void check_trusted(int fd, const std::string& path) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) throw_error(PlatformErrc::open_failed, path, errno);
    if (!trusted(st)) refuse(path, st);
}

const char* kind_word(ObjectKind kind) {
    switch (kind) {
        case ObjectKind::shared_memory:
            return "shared memory";
        case ObjectKind::mutex:
            return "mutex";
        case ObjectKind::semaphore:
            return "semaphore";
    }
    return "object";
}

}  // namespace

NamedObject::NamedObject(ObjectKind kind, std::string_view name, std::size_t payload_size,
                         OpenMode mode, const Initialiser& init, long wait_limit_ms)
    : kind_(kind),
      path_(std::string(kObjectDirectory) + "/" + object_file_name(ipc_scope(), kind, name)),
      wait_limit_ms_(std::max(0L, wait_limit_ms)) {
    const std::string object_name(name);
    const Deadline deadline = Deadline::after_ms(wait_limit_ms_);
    try {
        // A second round follows only when the file was replaced meanwhile (or was a left-over we
        // removed); peers that keep replacing it end at the deadline.
        for (int round = 0;; ++round) {
            if (round > 1 && deadline.passed()) replaced_too_often();
            const Opened opened = open_current_file(mode, deadline);
            if (join_or_create(opened, mode, object_name, payload_size, init, deadline)) return;
            release();
        }
    } catch (...) {
        release();
        throw;
    }
}

void NamedObject::replaced_too_often() const {
    throw_error(PlatformErrc::timed_out,
                path_ + " kept being replaced for " + std::to_string(wait_limit_ms_) + " ms", 0);
}

NamedObject::Opened NamedObject::open_current_file(OpenMode mode, const Deadline& deadline) {
    for (int round = 0;; ++round) {
        if (round > 1 && deadline.passed()) replaced_too_often();
        // Never blocks (a FIFO planted under our name would) and never follows a symbolic link.
        fd_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd_ >= 0) {
            check_trusted(fd_, path_);
            return Opened::existing;
        }
        if (const int err = errno; err != ENOENT) {
            struct stat st {};
            if (::lstat(path_.c_str(), &st) == 0 && !trusted(st)) refuse(path_, st);
            throw_error(PlatformErrc::open_failed, path_, err);
        }
        if (mode == OpenMode::open_existing) throw_error(PlatformErrc::not_found, path_, 0);
        fd_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_CREAT | O_EXCL, 0600);
        if (fd_ >= 0) {
            // The umask may take bits away, never add any; make it exactly 0600 all the same.
            if (::fchmod(fd_, 0600) != 0) throw_error(PlatformErrc::open_failed, path_, errno);
            check_trusted(fd_, path_);
            return Opened::created;
        }
        // Another opener made it between our two calls: open theirs.
        if (errno != EEXIST) throw_error(PlatformErrc::open_failed, path_, errno);
    }
}

bool NamedObject::join_or_create(Opened opened, OpenMode mode, const std::string& name,
                                 std::size_t payload_size, const Initialiser& init,
                                 const Deadline& deadline) {
    const Gate gate(fd_, deadline);
    if (gate.error() == ETIMEDOUT)
        throw_error(PlatformErrc::timed_out,
                    path_ + ": another process held its gate for more than " +
                        std::to_string(wait_limit_ms_) + " ms",
                    0);
    if (!gate.held()) throw_error(PlatformErrc::lock_failed, path_, gate.error());
    // The last holder may have removed the file while we waited for the gate: start over on the
    // current file so that every opener meets on one inode.
    if (!still_at_path(fd_, path_)) {
        if (mode == OpenMode::open_existing) throw_error(PlatformErrc::not_found, path_, 0);
        return false;
    }
    if (const int err = ofd_lock_until(fd_, kHolderLockByte, F_RDLCK, deadline); err != 0) {
        if (err == ETIMEDOUT)
            throw_error(PlatformErrc::timed_out,
                        path_ + ": another process held its holder lock for more than " +
                            std::to_string(wait_limit_ms_) + " ms",
                        0);
        throw_error(PlatformErrc::lock_failed, path_, err);
    }
    // Converting our shared lock to an exclusive one succeeds only when nobody else holds it.
    if (ofd_lock(fd_, kHolderLockByte, F_WRLCK) != 0) {
        attach_existing(name);
        return true;
    }
    if (opened == Opened::existing) {
        // Left by a holder that died: replaced by a fresh file, never reused in place.
        ::unlink(path_.c_str());
        if (mode == OpenMode::open_existing) throw_error(PlatformErrc::not_found, path_, 0);
        return false;
    }
    create_fresh(name, payload_size, init);
    if (const int err = ofd_lock(fd_, kHolderLockByte, F_RDLCK); err != 0)
        throw_error(PlatformErrc::lock_failed, path_, err);
    return true;
}

void NamedObject::create_fresh(const std::string& name, std::size_t payload_size,
                               const Initialiser& init) {
    const std::size_t offset = payload_offset_for(name.size());
    const std::size_t total = offset + payload_size;
    if (::ftruncate(fd_, static_cast<off_t>(total)) != 0)
        throw_error(PlatformErrc::resize_failed, path_, errno);
    map_ = ::mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (map_ == MAP_FAILED) {
        map_ = nullptr;
        throw_error(PlatformErrc::map_failed, path_, errno);
    }
    map_size_ = total;
    auto* header = static_cast<Header*>(map_);
    header->kind = static_cast<std::uint32_t>(kind_);
    header->payload_offset = offset;
    header->payload_size = payload_size;
    header->name_size = name.size();
    header->creator_pid = ::getpid();
    std::memcpy(header + 1, name.data(), name.size());
    payload_ = static_cast<char*>(map_) + offset;
    payload_size_ = payload_size;
    if (init) init(payload_, payload_size_);
    // Written last: an object is valid only once fully initialised.
    header->magic = kMagic;
    created_ = true;
}

void NamedObject::attach_existing(const std::string& name) {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) throw_error(PlatformErrc::open_failed, path_, errno);
    const auto file_size = static_cast<std::size_t>(st.st_size);
    if (file_size < sizeof(Header))
        throw_error(
            PlatformErrc::invalid_object,
            path_ + " holds " + std::to_string(file_size) + " bytes, too few for an object header",
            0);
    map_ = ::mmap(nullptr, file_size, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (map_ == MAP_FAILED) {
        map_ = nullptr;
        throw_error(PlatformErrc::map_failed, path_, errno);
    }
    map_size_ = file_size;
    Header header;
    std::memcpy(&header, map_, sizeof header);
    if (header.magic != kMagic)
        throw_error(PlatformErrc::invalid_object, path_ + " does not start with an object header",
                    0);
    if (header.kind != static_cast<std::uint32_t>(kind_))
        throw_error(PlatformErrc::invalid_object, path_ + " does not hold a " + kind_word(kind_),
                    0);
    const bool sizes_agree = header.name_size <= file_size - sizeof(Header) &&
                             header.payload_offset == payload_offset_for(header.name_size) &&
                             header.payload_offset <= file_size &&
                             header.payload_size == file_size - header.payload_offset;
    if (!sizes_agree)
        throw_error(PlatformErrc::invalid_object,
                    path_ + " holds " + std::to_string(file_size) +
                        " bytes, which does not match its header (" +
                        std::to_string(header.payload_size) + " bytes at offset " +
                        std::to_string(header.payload_offset) + ")",
                    0);
    if (header.name_size != name.size() ||
        std::memcmp(static_cast<const Header*>(map_) + 1, name.data(), name.size()) != 0)
        throw_error(PlatformErrc::invalid_name, path_ + " is held under another name", 0);
    payload_ = static_cast<char*>(map_) + header.payload_offset;
    payload_size_ = header.payload_size;
    created_ = false;
}

int NamedObject::creator_pid() const noexcept {
    return map_ ? static_cast<int>(static_cast<const Header*>(map_)->creator_pid) : 0;
}

void NamedObject::release() noexcept {
    if (map_ != nullptr) ::munmap(map_, map_size_);
    map_ = nullptr;
    map_size_ = 0;
    payload_ = nullptr;
    payload_size_ = 0;
    created_ = false;
    if (fd_ >= 0) ::close(fd_);  // drops every lock of this description
    fd_ = -1;
}

void NamedObject::detach() noexcept {
    if (fd_ < 0) return;
    {
        // The last holder removes the file; an opener waiting on the gate sees it gone and
        // retries. Without the gate in time the file stays, and the next opener or
        // remove_unheld_objects finds it unheld.
        const Gate gate(fd_, Deadline::after_ms(wait_limit_ms_));
        if (gate.held() && ofd_lock(fd_, kHolderLockByte, F_WRLCK) == 0 &&
            still_at_path(fd_, path_))
            ::unlink(path_.c_str());
    }
    release();
}

NamedObject::~NamedObject() {
    detach();
}

std::size_t remove_unheld_objects(std::string_view scope) {
    const std::string prefix = "vantrel." + encode_name(scope) + ".";
    std::size_t removed = 0;
    DIR* dir = ::opendir(kObjectDirectory);
    if (dir == nullptr) return 0;
    while (const struct dirent* entry = ::readdir(dir)) {
        const std::string file = entry->d_name;
        if (file.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string path = std::string(kObjectDirectory) + "/" + file;
        const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && trusted(st)) {
            // A held gate means an open or a close is under way: the object is not left over.
            const Gate gate(fd, Deadline::after_ms(0));
            if (gate.held() && ofd_lock(fd, kHolderLockByte, F_WRLCK) == 0 &&
                still_at_path(fd, path) && ::unlink(path.c_str()) == 0)
                ++removed;
        }
        ::close(fd);
    }
    ::closedir(dir);
    return removed;
}

}  // namespace vantrel::platform
