#include "platform/named_object.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/error.h"

namespace vantrel::platform {
namespace {

constexpr std::uint64_t kMagic = 0x314a424f4c4e5456ULL;  // "VTNLOBJ1"
// Byte ranges used as locks; they lie in the header, which never changes size.
constexpr off_t kHolderByte = 0;
constexpr off_t kGateByte = 1;

struct Header {
    std::uint64_t magic;
    std::uint64_t payload_offset;
    std::uint64_t payload_size;
    std::uint64_t name_size;
    std::int64_t creator_pid;
    // followed by the name's bytes
};

std::size_t align_up(std::size_t value, std::size_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// Returns 0 or the errno of the failed fcntl.
int ofd_lock(int fd, off_t byte, short type, bool wait) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = byte;
    fl.l_len = 1;
    for (;;) {
        if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0) return 0;
        if (errno == EINTR) continue;
        return errno;
    }
}

// Holds the gate lock for the lifetime of the guard.
class Gate {
  public:
    explicit Gate(int fd) : fd_(fd) {}
    ~Gate() { ofd_lock(fd_, kGateByte, F_UNLCK, false); }

  private:
    int fd_;
};

}  // namespace

NamedObject::NamedObject(ObjectKind kind, std::string_view name, std::size_t payload_size,
                         OpenMode mode, const Initialiser& init) {
    path_ = std::string(kObjectDirectory) + "/" + object_file_name(ipc_scope(), kind, name);
    const std::string object_name(name);

    for (;;) {
        const int flags =
            O_RDWR | O_CLOEXEC | O_NOFOLLOW | (mode == OpenMode::create_or_open ? O_CREAT : 0);
        fd_ = ::open(path_.c_str(), flags, 0600);
        if (fd_ < 0) {
            const int err = errno;
            if (err == ENOENT && mode == OpenMode::open_existing)
                throw_error(PlatformErrc::not_found, path_, 0);
            throw_error(PlatformErrc::open_failed, path_, err);
        }
        if (const int err = ofd_lock(fd_, kGateByte, F_WRLCK, true); err != 0) {
            ::close(fd_);
            throw_error(PlatformErrc::lock_failed, path_, err);
        }
        // The last holder may have removed the file while we waited for the gate: start over on
        // the current file so that every opener meets on one inode.
        struct stat ours {
        }, current{};
        if (::fstat(fd_, &ours) == 0 && ::stat(path_.c_str(), &current) == 0 &&
            ours.st_ino == current.st_ino && ours.st_dev == current.st_dev && ours.st_nlink > 0)
            break;
        ::close(fd_);
        fd_ = -1;
        if (mode == OpenMode::open_existing) throw_error(PlatformErrc::not_found, path_, 0);
    }

    try {
        Gate gate(fd_);
        if (const int err = ofd_lock(fd_, kHolderByte, F_RDLCK, true); err != 0)
            throw_error(PlatformErrc::lock_failed, path_, err);
        // Converting our shared lock to an exclusive one succeeds only when nobody else holds it.
        const bool sole_holder = ofd_lock(fd_, kHolderByte, F_WRLCK, false) == 0;
        if (sole_holder) {
            if (mode == OpenMode::open_existing) {
                ::unlink(path_.c_str());  // left by a holder that died
                throw_error(PlatformErrc::not_found, path_, 0);
            }
            create_fresh(object_name, payload_size, init);
            if (const int err = ofd_lock(fd_, kHolderByte, F_RDLCK, false); err != 0)
                throw_error(PlatformErrc::lock_failed, path_, err);
        } else {
            attach_existing(object_name);
        }
    } catch (...) {
        if (map_ != nullptr) ::munmap(map_, map_size_);
        map_ = nullptr;
        ::close(fd_);
        fd_ = -1;
        throw;
    }
}

void NamedObject::create_fresh(const std::string& name, std::size_t payload_size,
                               const Initialiser& init) {
    const std::size_t offset = align_up(sizeof(Header) + name.size(), 64);
    const std::size_t total = offset + payload_size;
    if (::ftruncate(fd_, 0) != 0 || ::ftruncate(fd_, static_cast<off_t>(total)) != 0)
        throw_error(PlatformErrc::resize_failed, path_, errno);
    map_ = ::mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (map_ == MAP_FAILED) {
        map_ = nullptr;
        throw_error(PlatformErrc::map_failed, path_, errno);
    }
    map_size_ = total;
    auto* header = static_cast<Header*>(map_);
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
        throw_error(PlatformErrc::open_failed, path_ + " is not a valid object", 0);
    map_ = ::mmap(nullptr, file_size, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (map_ == MAP_FAILED) {
        map_ = nullptr;
        throw_error(PlatformErrc::map_failed, path_, errno);
    }
    map_size_ = file_size;
    const auto* header = static_cast<const Header*>(map_);
    const bool sane = header->magic == kMagic && header->name_size <= file_size - sizeof(Header) &&
                      header->payload_offset >= sizeof(Header) + header->name_size &&
                      header->payload_offset <= file_size &&
                      header->payload_size <= file_size - header->payload_offset;
    if (!sane) throw_error(PlatformErrc::open_failed, path_ + " is not a valid object", 0);
    if (header->name_size != name.size() || std::memcmp(header + 1, name.data(), name.size()) != 0)
        throw_error(PlatformErrc::invalid_name, path_ + " is held under another name", 0);
    payload_ = static_cast<char*>(map_) + header->payload_offset;
    payload_size_ = header->payload_size;
    created_ = false;
}

int NamedObject::creator_pid() const noexcept {
    return map_ ? static_cast<int>(static_cast<const Header*>(map_)->creator_pid) : 0;
}

void NamedObject::detach() noexcept {
    if (fd_ < 0) return;
    if (ofd_lock(fd_, kGateByte, F_WRLCK, true) == 0) {
        // The last holder removes the file; an opener waiting on the gate sees it gone and retries.
        if (ofd_lock(fd_, kHolderByte, F_WRLCK, false) == 0) {
            struct stat ours {
            }, current{};
            if (::fstat(fd_, &ours) == 0 && ::stat(path_.c_str(), &current) == 0 &&
                ours.st_ino == current.st_ino && ours.st_dev == current.st_dev)
                ::unlink(path_.c_str());
        }
    }
    if (map_ != nullptr) ::munmap(map_, map_size_);
    map_ = nullptr;
    ::close(fd_);  // drops every lock of this description
    fd_ = -1;
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
        const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) continue;
        if (ofd_lock(fd, kGateByte, F_WRLCK, true) == 0 &&
            ofd_lock(fd, kHolderByte, F_WRLCK, false) == 0) {
            struct stat ours {
            }, current{};
            if (::fstat(fd, &ours) == 0 && ::stat(path.c_str(), &current) == 0 &&
                ours.st_ino == current.st_ino && ::unlink(path.c_str()) == 0)
                ++removed;
        }
        ::close(fd);
    }
    ::closedir(dir);
    return removed;
}

}  // namespace vantrel::platform
