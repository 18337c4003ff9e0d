// termios serial port with poll-based reads and writes that a stop can cancel.
#include "drivers/core/serial_transport.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "common/ini_store.h"
#include "common/settings.h"
#include "drivers/core/serial_speed.h"

namespace tavik::drv {
namespace {

constexpr int kWriteTimeoutMs = 15000;

class SerialTransport final : public Transport {
public:
    SerialTransport(int fd, int cancelFd) : fd_(fd), cancelFd_(cancelFd) {}
    ~SerialTransport() override {
        int bits = TIOCM_DTR;
        ::ioctl(fd_, TIOCMBIC, &bits);
        ::tcflush(fd_, TCIOFLUSH);
        ::close(fd_);
        ::close(cancelFd_);
    }

    bool write(std::span<const uint8_t> bytes) override {
        std::size_t done = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
        while (done < bytes.size()) {
            ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd p[2] = {{fd_, POLLOUT, 0}, {cancelFd_, POLLIN, 0}};
            int r = ::poll(p, 2, static_cast<int>(left.count()));
            if (r < 0 && errno != EINTR) return false;
            if (p[1].revents) return false;
            if (p[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
        }
        return true;
    }

    int read(std::span<uint8_t> out, int timeoutMs) override {
        if (out.empty()) return 0;
        pollfd p[2] = {{fd_, POLLIN, 0}, {cancelFd_, POLLIN, 0}};
        int r = ::poll(p, 2, timeoutMs < 0 ? 0 : timeoutMs);
        if (r < 0) return errno == EINTR ? 0 : -1;
        if (p[1].revents) return -1;
        if (r == 0) return 0;
        ssize_t n = ::read(fd_, out.data(), out.size());
        if (n > 0) return static_cast<int>(n);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
        return -1;  // hang-up or I/O error: the device is gone
    }

    void purge() override { ::tcflush(fd_, TCIOFLUSH); }

    bool drainOutput(int timeoutMs) override {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            int queued = 0;
            if (::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) return true;
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    void cancel() override {
        uint64_t one = 1;
        (void)!::write(cancelFd_, &one, sizeof one);
    }

private:
    int fd_;
    int cancelFd_;
};

}  // namespace

std::string serialDevicePath(int portIndex) {
    char key[16], fallback[32];
    std::snprintf(key, sizeof key, "Com%d", portIndex + 1);
    std::snprintf(fallback, sizeof fallback, "/dev/ttyS%d", portIndex);
    return profileGetString("Ports", key, fallback, TavikIniPath());
}

std::unique_ptr<Transport> openSerialTransport(const std::string& path, int baudRate, int* actualBaud) {
    if (actualBaud) *actualBaud = baudRate;
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    if (::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY) {
        // Exclusive use is best effort (not every node supports it).
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
        tio.c_cflag |= CS8 | CLOCAL | CREAD;
        tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        ::tcsetattr(fd, TCSANOW, &tio);
        // The exact rate, standard or not; the port says what it took.
        const int actual = setExactSpeed(fd, baudRate);
        if (actualBaud && actual > 0) *actualBaud = actual;
    }
    int bits = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd, TIOCMBIS, &bits);
    int cancelFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (cancelFd < 0) {
        ::close(fd);
        return nullptr;
    }
    ::tcflush(fd, TCIOFLUSH);
    return std::make_unique<SerialTransport>(fd, cancelFd);
}

}  // namespace tavik::drv
