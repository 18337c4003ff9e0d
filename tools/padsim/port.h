// The virtual display's end of the line: the master side of a pseudo-terminal
// (the system opens the slave as its serial port), or a pair of descriptors.
#pragma once

#include <string>

namespace padsim {

// Owns a descriptor; closes it on destruction.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& o) noexcept : fd_(o.release()) {}
    Fd& operator=(Fd&& o) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd();
    int get() const { return fd_; }
    int release() {
        const int f = fd_;
        fd_ = -1;
        return f;
    }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// A raw pseudo-terminal. The master is non-blocking. padsim keeps one slave
// descriptor open for its whole life so that the system closing and reopening
// the port never leaves the master without a slave (reads would fail with EIO).
class PtyPort {
public:
    // Opens the pair; on failure returns false and sets `error`.
    bool open(std::string& error);
    int master() const { return master_.get(); }
    const std::string& slavePath() const { return slavePath_; }

private:
    Fd master_;
    Fd slave_;
    std::string slavePath_;
};

// A symbolic link to the slave, removed again on destruction (only if it still
// points where we made it point).
class PortLink {
public:
    PortLink() = default;
    PortLink(const PortLink&) = delete;
    PortLink& operator=(const PortLink&) = delete;
    ~PortLink();
    // Replaces an existing symbolic link at `path`; refuses to replace anything else.
    bool create(const std::string& path, const std::string& target, std::string& error);

private:
    std::string path_, target_;
};

}  // namespace padsim
