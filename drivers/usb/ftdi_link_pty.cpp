// The FtdiLink double: "devices" listed in a text file, each reached through
// a pseudo-terminal (the virtual display's side is the master). Every call on
// the open device is recorded in the list file's ".log" companion.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "drivers/usb/ftdi_link.h"

namespace tavik::ftdi {
namespace {

struct ListedDevice {
    std::string serial, description, path;
};

// Reads the list; malformed lines (fewer than three fields, empty path) are skipped.
std::vector<ListedDevice> readList(const std::string& file) {
    std::vector<ListedDevice> out;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const auto a = line.find('|');
        if (a == std::string::npos) continue;
        const auto b = line.find('|', a + 1);
        if (b == std::string::npos || b + 1 >= line.size()) continue;
        ListedDevice d{line.substr(0, a), line.substr(a + 1, b - a - 1), line.substr(b + 1)};
        if (d.serial.size() > kMaxStringLength) d.serial.resize(kMaxStringLength);
        if (d.description.size() > kMaxStringLength) d.description.resize(kMaxStringLength);
        out.push_back(std::move(d));
    }
    return out;
}

speed_t speedCode(int baud) {
    switch (baud) {
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        case 230400: return B230400;
        case 460800: return B460800;
        case 921600: return B921600;
        default: return 0;
    }
}

class PtyDoubleLink final : public FtdiLink {
public:
    explicit PtyDoubleLink(std::string listFile) : listFile_(std::move(listFile)) {}
    ~PtyDoubleLink() override { close(); }

    Status deviceCount(int& count) override {
        count = static_cast<int>(readList(listFile_).size());
        return kOk;
    }
    Status serialNumber(int index, std::string& out) override {
        auto list = readList(listFile_);
        if (index < 0 || index >= static_cast<int>(list.size())) return kDeviceNotFound;
        out = list[static_cast<std::size_t>(index)].serial;
        return kOk;
    }
    Status description(int index, std::string& out) override {
        auto list = readList(listFile_);
        if (index < 0 || index >= static_cast<int>(list.size())) return kDeviceNotFound;
        out = list[static_cast<std::size_t>(index)].description;
        return kOk;
    }

    Status openBySerial(std::string_view serial) override {
        for (const auto& d : readList(listFile_))
            if (d.serial == serial) return openPath(d, "open-serial");
        log("open-serial " + std::string(serial) + " not-found");
        return kDeviceNotFound;
    }
    Status openByIndex(int index) override {
        auto list = readList(listFile_);
        if (index < 0 || index >= static_cast<int>(list.size())) return kDeviceNotFound;
        return openPath(list[static_cast<std::size_t>(index)], "open-index");
    }
    Status close() override {
        if (fd_ < 0) return kInvalidHandle;
        ::close(fd_);
        fd_ = -1;
        log("close");
        return kOk;
    }

    Status setQueues(uint32_t in, uint32_t out) override {
        if (fd_ < 0) return kInvalidHandle;
        log("queues " + std::to_string(in) + " " + std::to_string(out));
        return kOk;
    }
    Status setTimeouts(const Timeouts& t) override {
        if (fd_ < 0) return kInvalidHandle;
        writeTimeoutMs_ = t.writeConstantMs;
        log("timeouts " + std::to_string(t.readIntervalMs) + " " + std::to_string(t.readMultiplierMs) + " " +
            std::to_string(t.readConstantMs) + " " + std::to_string(t.writeMultiplierMs) + " " +
            std::to_string(t.writeConstantMs));
        return kOk;
    }
    Status setDtr(bool raised) override {
        if (fd_ < 0) return kInvalidHandle;
        log(raised ? "dtr 1" : "dtr 0");
        return kOk;
    }
    Status purge(bool receive, bool transmit) override {
        if (fd_ < 0) return kInvalidHandle;
        ::tcflush(fd_, receive && transmit ? TCIOFLUSH : (receive ? TCIFLUSH : TCOFLUSH));
        log(std::string("purge") + (receive ? " rx" : "") + (transmit ? " tx" : ""));
        return kOk;
    }
    Status setLineSettings(const LineSettings& s) override {
        if (fd_ < 0) return kInvalidHandle;
        if ((s.dataBits != 7 && s.dataBits != 8) || (s.stopBits != 1 && s.stopBits != 2)) return kInvalidParameter;
        // A pseudo-terminal takes the speed; the rest is recorded only.
        termios tio{};
        if (::tcgetattr(fd_, &tio) == 0) {
            if (speed_t code = speedCode(s.baudRate)) {
                ::cfsetispeed(&tio, code);
                ::cfsetospeed(&tio, code);
            }
            ::tcsetattr(fd_, TCSANOW, &tio);
        }
        char line[96];
        std::snprintf(line, sizeof line, "line %d %d %c %d %s", s.baudRate, s.dataBits, s.parity, s.stopBits,
                      s.rtsCtsFlow ? "rtscts" : (s.xonXoffFlow ? "xonxoff" : "none"));
        log(line);
        return kOk;
    }
    Status setLatencyTimer(uint8_t ms) override {
        if (fd_ < 0) return kInvalidHandle;
        if (ms == 0) return kInvalidParameter;
        log("latency " + std::to_string(ms));
        return kOk;
    }

    Status queueStatus(QueueStatus& out) override {
        out = {};
        if (fd_ < 0) return kInvalidHandle;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 0) < 0 && errno != EINTR) return kIoError;
        int in = 0, queued = 0;
        if (::ioctl(fd_, FIONREAD, &in) != 0) return kIoError;
        // The other side has gone: nothing more will come.
        if (in <= 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) return kIoError;
        if (::ioctl(fd_, TIOCOUTQ, &queued) != 0) queued = 0;
        out.input = in > 0 ? static_cast<uint32_t>(in) : 0;
        out.output = queued > 0 ? static_cast<uint32_t>(queued) : 0;
        return kOk;
    }

    Status write(std::span<const uint8_t> bytes, std::size_t& written) override {
        written = 0;
        if (fd_ < 0) return kInvalidHandle;
        log("write " + std::to_string(bytes.size()));
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::milliseconds(writeTimeoutMs_ > 0 ? writeTimeoutMs_ : 15000);
        while (written < bytes.size()) {
            ssize_t n = ::write(fd_, bytes.data() + written, bytes.size() - written);
            if (n > 0) {
                written += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return kIoError;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return kIoError;
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) return kIoError;
            if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) return kIoError;
        }
        return kOk;
    }

    Status read(std::span<uint8_t> out, std::size_t& got) override {
        got = 0;
        if (fd_ < 0) return kInvalidHandle;
        if (out.empty()) return kOk;
        ssize_t n = ::read(fd_, out.data(), out.size());
        if (n > 0) {
            got = static_cast<std::size_t>(n);
            return kOk;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return kOk;
        return kIoError;
    }

private:
    Status openPath(const ListedDevice& d, const char* how) {
        if (fd_ >= 0) return kDeviceNotOpened;  // one device per link
        int fd = ::open(d.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            log(std::string(how) + " " + d.serial + " failed");
            return kDeviceNotOpened;
        }
        termios tio{};
        if (::tcgetattr(fd, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(fd, TCSANOW, &tio);
        }
        fd_ = fd;
        log(std::string(how) + " " + d.serial);
        return kOk;
    }

    void log(const std::string& line) {
        std::lock_guard<std::mutex> lock(logMutex_);
        std::ofstream(listFile_ + ".log", std::ios::app) << line << '\n';
    }

    std::string listFile_;
    int fd_ = -1;
    int writeTimeoutMs_ = 15000;
    std::mutex logMutex_;
};

}  // namespace

std::unique_ptr<FtdiLink> createPtyDoubleLink(std::string listFile) {
    return std::make_unique<PtyDoubleLink>(std::move(listFile));
}

}  // namespace tavik::ftdi
