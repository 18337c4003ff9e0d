// Shared sections on POSIX shared memory with holder-lifetime semantics.
#include "platform/shared_section.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace tavik::platform {
namespace {

constexpr const char* kGuardName = "/tavik-section-guard";

// Serialises every open, create and last-holder check across processes.
class GuardLock {
public:
    GuardLock() {
        fd_ = ::shm_open(kGuardName, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            ::fchmod(fd_, 0666);
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~GuardLock() {
        if (fd_ >= 0) {
            ::flock(fd_, LOCK_UN);
            ::close(fd_);
        }
    }
    GuardLock(const GuardLock&) = delete;
    GuardLock& operator=(const GuardLock&) = delete;

private:
    int fd_ = -1;
};

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
    : name_(std::move(name)), fd_(fd), addr_(addr), size_(size) {}

SharedSection::SharedSection(SharedSection&& other) noexcept
    : name_(std::move(other.name_)),
      fd_(std::exchange(other.fd_, -1)),
      addr_(std::exchange(other.addr_, nullptr)),
      size_(std::exchange(other.size_, 0)) {}

SharedSection& SharedSection::operator=(SharedSection&& other) noexcept {
    if (this != &other) {
        release();
        name_ = std::move(other.name_);
        fd_ = std::exchange(other.fd_, -1);
        addr_ = std::exchange(other.addr_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

SharedSection::~SharedSection() { release(); }

void SharedSection::release() noexcept {
    if (addr_) ::munmap(addr_, size_);
    addr_ = nullptr;
    if (fd_ >= 0) {
        GuardLock guard;
        // Converting our shared lock to an exclusive one succeeds only when we
        // are the last holder: then the name goes with us.
        if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
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
    Fd fd(::shm_open(obj.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC, 0));
    if (fd.get() < 0) return std::nullopt;
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

std::optional<SharedSection> SharedSection::create(std::string_view name, std::size_t size, bool* created) {
    if (size == 0) return std::nullopt;
    const std::string obj = sectionObjectName(name);
    GuardLock guard;
    Fd fd(::shm_open(obj.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (fd.get() < 0) return std::nullopt;
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
    if (created) *created = fresh;
    return SharedSection(std::string(name), fd.release(), addr, *actual);
}

bool SharedSection::exists(std::string_view name) {
    const std::string obj = sectionObjectName(name);
    GuardLock guard;
    Fd fd(::shm_open(obj.c_str(), O_RDONLY | O_CLOEXEC, 0));
    if (fd.get() < 0) return false;
    if (isStale(fd.get())) {
        ::shm_unlink(obj.c_str());
        return false;
    }
    return true;
}

}  // namespace tavik::platform
