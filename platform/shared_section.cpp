// Shared sections on POSIX shared memory with holder-lifetime semantics.
#include "platform/shared_section.h"

#include "platform/mapping_guard.h"
#include "platform/user_scope.h"

#include <cerrno>
#include <cstring>
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

// Where the system keeps the objects of shm_open.
constexpr const char* kShmFolder = "/dev/shm";

// The error for an object that shm_open refused with `err`: a name this user
// may not open belongs to someone else (reported with the owner).
SectionError failureOf(const std::string& object, int err) {
    if (err == ENOENT) return {SectionError::Kind::Absent, 0, 0, object};
    struct stat st {};
    if ((err == EACCES || err == EPERM) && ::lstat((kShmFolder + object).c_str(), &st) == 0 && st.st_uid != ::geteuid())
        return {SectionError::Kind::Foreign, st.st_uid, err, object};
    return {SectionError::Kind::Unusable, 0, err, object};
}

// Serialises every open, create and last-holder check across processes. Each
// user has a private guard (nobody else can hold it); ports shared across
// users on purpose use one guard open to all. The wait for it is bounded: a
// guard held for longer makes the operation fail instead of hanging.
class GuardLock {
public:
    explicit GuardLock(SectionError& error) {
        const bool shared = portsSharedAcrossUsers();
        const std::string name =
            shared ? std::string("/tavik-section-guard") : "/tavik-section-guard-" + std::to_string(::geteuid());
        const mode_t mode = privateOrSharedMode();
        fd_ = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, mode);
        if (fd_ < 0) {
            error = failureOf(name, errno);
            return;
        }
        struct stat st {};
        if (::fstat(fd_, &st) != 0 || !trustedUser(st.st_uid)) {
            error = {SectionError::Kind::Foreign, st.st_uid, 0, name};
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
        error = {SectionError::Kind::Busy, 0, 0, name};
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
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            if (fd_ >= 0) ::close(fd_);
            fd_ = other.release();
        }
        return *this;
    }
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

std::string describeSectionError(const SectionError& e) {
    const std::string what = "the shared section \"" + e.object.substr(e.object.empty() ? 0 : 1) + "\"";
    switch (e.kind) {
        case SectionError::Kind::Ok:
            return what + " is usable";
        case SectionError::Kind::Absent:
            return what + " does not exist";
        case SectionError::Kind::Foreign:
            return what + " is held by another user, " + describeUser(e.owner) +
                   " (it must end its programs first, or both users set TAVIK_SHARED_PORTS=1)";
        case SectionError::Kind::Busy:
            return what + " could not be opened: its guard lock stays held by another process";
        case SectionError::Kind::Unusable:
            break;
    }
    return what + " could not be opened or created" + (e.error ? std::string(": ") + std::strerror(e.error) : "");
}

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
        SectionError ignored;
        GuardLock guard(ignored);
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

std::optional<SharedSection> SharedSection::open(std::string_view name, Access access, std::size_t minSize,
                                                 SectionError* error) {
    SectionError local;
    SectionError& err = error ? *error : local;
    const std::string obj = sectionObjectName(name);
    err = {SectionError::Kind::Ok, 0, 0, obj};
    const bool writable = access == Access::ReadWrite;
    GuardLock guard(err);
    if (!guard.held()) return std::nullopt;
    Fd fd(::shm_open(obj.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC, 0));
    if (fd.get() < 0) {
        err = failureOf(obj, errno);
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !trustedUser(st.st_uid)) {
        err = {SectionError::Kind::Foreign, st.st_uid, 0, obj};
        return std::nullopt;
    }
    if (isStale(fd.get())) {
        ::shm_unlink(obj.c_str());
        err.kind = SectionError::Kind::Absent;
        return std::nullopt;
    }
    err.kind = SectionError::Kind::Unusable;
    if (::flock(fd.get(), LOCK_SH | LOCK_NB) != 0) return std::nullopt;
    auto size = objectSize(fd.get());
    if (!size || *size == 0 || *size < minSize) return std::nullopt;
    void* addr = mapFd(fd.get(), *size, writable);
    if (!addr) return std::nullopt;
    err.kind = SectionError::Kind::Ok;
    return SharedSection(std::string(name), fd.release(), addr, *size);
}

std::optional<SharedSection> SharedSection::create(std::string_view name, std::size_t size, bool* created,
                                                   const std::function<void(void*)>& initialise,
                                                   SectionError* error) {
    SectionError local;
    SectionError& err = error ? *error : local;
    const std::string obj = sectionObjectName(name);
    err = {SectionError::Kind::Unusable, 0, 0, obj};
    if (size == 0) return std::nullopt;
    GuardLock guard(err);
    if (!guard.held()) return std::nullopt;
    const mode_t mode = privateOrSharedMode();
    const auto fail = [&](int e) {
        err = {SectionError::Kind::Unusable, 0, e, obj};
        return std::nullopt;
    };
    // Two rounds: a stale object found in the first is removed, then made anew.
    for (int round = 0; round < 2; ++round) {
        Fd fd(::shm_open(obj.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode));
        bool fresh = fd.get() >= 0;
        if (fresh) {
            // The umask may have taken bits away; nothing else may add any.
            if (::fchmod(fd.get(), mode) != 0 || ::ftruncate(fd.get(), static_cast<off_t>(size)) != 0) {
                const int e = errno;
                ::shm_unlink(obj.c_str());
                return fail(e);
            }
        } else {
            if (errno != EEXIST) {
                err = failureOf(obj, errno);
                return std::nullopt;
            }
            fd = Fd(::shm_open(obj.c_str(), O_RDWR | O_CLOEXEC, 0));
            if (fd.get() < 0) {
                if (errno == ENOENT) continue;  // removed meanwhile by a process of another guard
                err = failureOf(obj, errno);
                return std::nullopt;
            }
            struct stat st {};
            if (::fstat(fd.get(), &st) != 0) return fail(errno);
            if (!trustedUser(st.st_uid)) {
                err = {SectionError::Kind::Foreign, st.st_uid, 0, obj};
                return std::nullopt;
            }
            if (isStale(fd.get())) {
                // Nobody holds it: left behind by processes that died. A new
                // object takes its place, so no descriptor of the old one
                // (opened by whoever could open it then) reaches the new one.
                if (::shm_unlink(obj.c_str()) == 0) continue;
                // Not ours to remove (another user's, with ports shared on
                // purpose): cleared in place instead.
                if (::ftruncate(fd.get(), 0) != 0 || ::ftruncate(fd.get(), static_cast<off_t>(size)) != 0)
                    return fail(errno);
                fresh = true;
            } else if (!portsSharedAcrossUsers() && st.st_uid == ::geteuid() && (st.st_mode & 077) != 0) {
                // A live section of ours made by a process that shared ports:
                // closed to others from now on.
                ::fchmod(fd.get(), 0600);
            }
        }
        if (::flock(fd.get(), LOCK_SH | LOCK_NB) != 0) return fail(errno);
        auto actual = objectSize(fd.get());
        if (!actual || *actual < size) return fail(0);
        void* addr = mapFd(fd.get(), *actual, true);
        if (!addr) return fail(errno);
        SharedSection section(std::string(name), fd.release(), addr, *actual);
        // Still under the guard: nobody else can open the new section yet.
        if (fresh && initialise) initialise(addr);
        if (created) *created = fresh;
        err.kind = SectionError::Kind::Ok;
        return section;
    }
    err = {SectionError::Kind::Busy, 0, 0, obj};
    return std::nullopt;
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
    SectionError ignored;
    GuardLock guard(ignored);
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
    return fl.l_type == F_WRLCK;
}

int SharedSection::keepAcrossExec(bool keep) {
    if (fd_ < 0 || ::fcntl(fd_, F_SETFD, keep ? 0 : FD_CLOEXEC) != 0) return -1;
    return keep ? fd_ : -1;
}

bool SharedSection::lost() const { return mappingLost(guard_); }

}  // namespace tavik::platform
