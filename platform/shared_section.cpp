// Shared sections on POSIX shared memory with holder-lifetime semantics.
#include "platform/shared_section.h"

#include "platform/mapping_guard.h"
#include "platform/user_scope.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <utility>

namespace tavik::platform {
namespace {

// Serialises every open, create and last-holder check across processes. Each
// user has a private guard (nobody else can hold it); ports shared across
// users on purpose use one guard open to all. The wait for it is bounded: a
// guard held for longer makes the operation fail instead of hanging.
class GuardLock {
public:
    GuardLock() {
        const bool shared = portsSharedAcrossUsers();
        const std::string name =
            shared ? std::string("/tavik-section-guard") : "/tavik-section-guard-" + std::to_string(::geteuid());
        const mode_t mode = shared ? 0666 : 0600;
        fd_ = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, mode);
        if (fd_ < 0) return;
        struct stat st {};
        if (::fstat(fd_, &st) != 0 || !trustedUser(st.st_uid)) {
            closeFd();
            return;
        }
        if (st.st_uid == ::geteuid()) ::fchmod(fd_, mode);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(SharedSection::kGuardWaitMs);
        for (;;) {
            if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
                held_ = true;
                return;
            }
            if (errno != EWOULDBLOCK && errno != EINTR) break;
            if (std::chrono::steady_clock::now() >= deadline) break;
            // Held only for a few system calls by a well-behaved process.
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        closeFd();
    }
    ~GuardLock() {
        if (held_) ::flock(fd_, LOCK_UN);
        closeFd();
    }
    GuardLock(const GuardLock&) = delete;
    GuardLock& operator=(const GuardLock&) = delete;
    bool held() const { return held_; }

private:
    void closeFd() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int fd_ = -1;
    bool held_ = false;
};

// The object belongs to a user this process trusts.
bool trustedObject(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && trustedUser(st.st_uid);
}

// A record lock on the first byte, owned by the open file description.
bool claimLock(int fd, short type, int cmd, struct flock* out = nullptr) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 1;
    fl.l_pid = 0;
    if (::fcntl(fd, cmd, &fl) != 0) return false;
    if (out) *out = fl;
    return true;
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

// No other descriptor holds a lock: every holder of the section is gone.
bool isStale(int fd) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    return false;
}

std::optional<std::size_t> objectSize(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size < 0) return std::nullopt;
    return static_cast<std::size_t>(st.st_size);
}

void* mapFd(int fd, std::size_t size, bool writable) {
    if (size == 0) return nullptr;
    void* p = ::mmap(nullptr, size, writable ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd, 0);
    return p == MAP_FAILED ? nullptr : p;
}

}  // namespace

std::string sectionObjectName(std::string_view name) {
    std::string out = "/";
    for (char c : name) out.push_back(c == '/' ? '\\' : c);
    return out;
}

SharedSection::SharedSection(std::string name, int fd, void* addr, std::size_t size)
    : name_(std::move(name)), fd_(fd), addr_(addr), size_(size), guard_(registerMapping(addr, size)) {}

SharedSection::SharedSection(SharedSection&& other) noexcept
    : name_(std::move(other.name_)),
      fd_(std::exchange(other.fd_, -1)),
      addr_(std::exchange(other.addr_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      guard_(std::exchange(other.guard_, -1)) {}

SharedSection& SharedSection::operator=(SharedSection&& other) noexcept {
    if (this != &other) {
        release();
        name_ = std::move(other.name_);
        fd_ = std::exchange(other.fd_, -1);
        addr_ = std::exchange(other.addr_, nullptr);
        size_ = std::exchange(other.size_, 0);
        guard_ = std::exchange(other.guard_, -1);
    }
    return *this;
}

SharedSection::~SharedSection() { release(); }

void SharedSection::release() noexcept {
    unregisterMapping(std::exchange(guard_, -1));
    if (addr_) ::munmap(addr_, size_);
    addr_ = nullptr;
    if (fd_ >= 0) {
        GuardLock guard;
        // Converting our shared lock to an exclusive one succeeds only when we
        // are the last holder: then the name goes with us. Without the guard
        // the name stays; the next open finds it stale and removes it.
        if (guard.held() && ::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
            const std::string obj = sectionObjectName(name_);
            // Only unlink if the name still refers to our object.
            int probe = ::shm_open(obj.c_str(), O_RDONLY | O_CLOEXEC, 0);
            if (probe >= 0) {
                struct stat a {}, b {};
                if (::fstat(probe, &a) == 0 && ::fstat(fd_, &b) == 0 && a.st_ino == b.st_ino) {
                    ::shm_unlink(obj.c_str());
                }
                ::close(probe);
            }
        }
        ::close(fd_);
        fd_ = -1;
    }
    size_ = 0;
}

std::optional<SharedSection> SharedSection::open(std::string_view name, Access access, std::size_t minSize) {
    const std::string obj = sectionObjectName(name);
    const bool writable = access == Access::ReadWrite;
    GuardLock guard;
    if (!guard.held()) return std::nullopt;
    Fd fd(::shm_open(obj.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC, 0));
    if (fd.get() < 0 || !trustedObject(fd.get())) return std::nullopt;
    if (isStale(fd.get())) {
        ::shm_unlink(obj.c_str());
        return std::nullopt;
    }
    if (::flock(fd.get(), LOCK_SH | LOCK_NB) != 0) return std::nullopt;
    auto size = objectSize(fd.get());
    if (!size || *size == 0 || *size < minSize) return std::nullopt;
    void* addr = mapFd(fd.get(), *size, writable);
    if (!addr) return std::nullopt;
    return SharedSection(std::string(name), fd.release(), addr, *size);
}

std::optional<SharedSection> SharedSection::create(std::string_view name, std::size_t size, bool* created,
                                                   const std::function<void(void*)>& initialise) {
    if (size == 0) return std::nullopt;
    const std::string obj = sectionObjectName(name);
    GuardLock guard;
    if (!guard.held()) return std::nullopt;
    Fd fd(::shm_open(obj.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (fd.get() < 0 || !trustedObject(fd.get())) return std::nullopt;
    bool fresh = false;
    if (isStale(fd.get())) {
        // Nobody holds it: new, or left behind by processes that died.
        if (::ftruncate(fd.get(), 0) != 0 || ::ftruncate(fd.get(), static_cast<off_t>(size)) != 0) return std::nullopt;
        ::fchmod(fd.get(), 0666);
        fresh = true;
    }
    if (::flock(fd.get(), LOCK_SH | LOCK_NB) != 0) return std::nullopt;
    auto actual = objectSize(fd.get());
    if (!actual || *actual < size) return std::nullopt;
    void* addr = mapFd(fd.get(), *actual, true);
    if (!addr) return std::nullopt;
    SharedSection section(std::string(name), fd.release(), addr, *actual);
    // Still under the guard: nobody else can open the new section yet.
    if (fresh && initialise) initialise(addr);
    if (created) *created = fresh;
    return section;
}

std::optional<SharedSection> SharedSection::adopt(int fd, std::string_view name, std::size_t minSize) {
    if (fd < 0 || ::fcntl(fd, F_GETFD) < 0) return std::nullopt;
    // Close-on-exec at once, so a descriptor left to us never reaches a child.
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    // No guard lock needed: a section whose descriptor we hold with its
    // holder lock is never taken for stale, so the name cannot move on.
    const std::string obj = sectionObjectName(name);
    Fd named(::shm_open(obj.c_str(), O_RDONLY | O_CLOEXEC, 0));
    struct stat ours {}, theirs {};
    if (named.get() < 0 || ::fstat(fd, &ours) != 0 || ::fstat(named.get(), &theirs) != 0) return std::nullopt;
    if (ours.st_dev != theirs.st_dev || ours.st_ino != theirs.st_ino) return std::nullopt;  // not ours to close
    Fd owned(fd);
    if (!trustedUser(ours.st_uid) || (::fcntl(fd, F_GETFL) & O_ACCMODE) != O_RDWR) return std::nullopt;
    // The claim is held (seen from another open) and by this open (no
    // conflict seen through it).
    struct flock seen {};
    if (!claimLock(named.get(), F_WRLCK, F_OFD_GETLK, &seen) || seen.l_type == F_UNLCK) return std::nullopt;
    if (!claimLock(fd, F_WRLCK, F_OFD_GETLK, &seen) || seen.l_type != F_UNLCK) return std::nullopt;
    // Already a holder; asking again only confirms it.
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0) return std::nullopt;
    auto size = objectSize(fd);
    if (!size || *size == 0 || *size < minSize) return std::nullopt;
    void* addr = mapFd(fd, *size, true);
    if (!addr) return std::nullopt;
    return SharedSection(std::string(name), owned.release(), addr, *size);
}

bool SharedSection::exists(std::string_view name) {
    const std::string obj = sectionObjectName(name);
    GuardLock guard;
    Fd fd(::shm_open(obj.c_str(), O_RDONLY | O_CLOEXEC, 0));
    if (fd.get() < 0) return errno != ENOENT;  // present but not ours to open: taken
    if (!guard.held() || !trustedObject(fd.get())) return true;
    if (isStale(fd.get())) {
        ::shm_unlink(obj.c_str());
        return false;
    }
    return true;
}

bool SharedSection::tryClaim() { return fd_ >= 0 && claimLock(fd_, F_WRLCK, F_OFD_SETLK); }

bool SharedSection::claimWithin(int boundMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    for (;;) {
        if (tryClaim()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool SharedSection::claimedElsewhere() const {
    struct flock fl {};
    if (fd_ < 0 || !claimLock(fd_, F_WRLCK, F_OFD_GETLK, &fl)) return false;
    return fl.l_type != F_UNLCK;
}

int SharedSection::keepAcrossExec(bool keep) {
    if (fd_ < 0 || ::fcntl(fd_, F_SETFD, keep ? 0 : FD_CLOEXEC) != 0) return -1;
    return keep ? fd_ : -1;
}

bool SharedSection::lost() const { return mappingLost(guard_); }

}  // namespace tavik::platform
