// FtdiLink on libftdi1: the FTDI chips on the USB bus (vendor 0x0403 and the
// usual product ids). Bytes that arrive are fetched into a queue of our own,
// since the chip reports no input count; the output counts as drained once the
// chip's transmitter is empty.
#include <cstring>
#include <ftdi.h>
#include <mutex>
#include <vector>

#include "drivers/usb/ftdi_link.h"

namespace tavik::ftdi {
namespace {

struct ContextDeleter {
    void operator()(ftdi_context* c) const { ftdi_free(c); }
};
using Context = std::unique_ptr<ftdi_context, ContextDeleter>;

struct ListDeleter {
    void operator()(ftdi_device_list* l) const { ftdi_list_free(&l); }
};
using DeviceList = std::unique_ptr<ftdi_device_list, ListDeleter>;

// Line status bit (high byte of the modem status word): transmitter empty.
constexpr unsigned short kTransmitterEmpty = 0x4000;
constexpr std::size_t kFetchChunk = 4096;

// The devices present now; `count` of them in the list.
DeviceList findAll(ftdi_context* ctx, int& count) {
    ftdi_device_list* raw = nullptr;
    count = ftdi_usb_find_all(ctx, &raw, 0, 0);
    if (count < 0) {
        count = 0;
        return nullptr;
    }
    return DeviceList(raw);
}

libusb_device* nth(ftdi_device_list* list, int index) {
    for (int i = 0; list; list = list->next, ++i)
        if (i == index) return list->dev;
    return nullptr;
}

class LibftdiLink final : public FtdiLink {
public:
    LibftdiLink() : ctx_(ftdi_new()) {}
    ~LibftdiLink() override { close(); }
    bool valid() const { return ctx_ != nullptr; }

    Status deviceCount(int& count) override {
        Context probe(ftdi_new());
        if (!probe) return kOtherError;
        count = 0;
        findAll(probe.get(), count);
        return kOk;
    }
    Status serialNumber(int index, std::string& out) override { return strings(index, nullptr, &out); }
    Status description(int index, std::string& out) override { return strings(index, &out, nullptr); }

    Status openBySerial(std::string_view serial) override {
        if (open_) return kDeviceNotOpened;
        int count = 0;
        DeviceList list = findAll(ctx_.get(), count);
        for (int i = 0; i < count; ++i) {
            libusb_device* dev = nth(list.get(), i);
            char s[kMaxStringLength + 1] = {};
            if (!dev || ftdi_usb_get_strings(ctx_.get(), dev, nullptr, 0, nullptr, 0, s, sizeof s) != 0) continue;
            if (serial == s) return openDevice(dev);
        }
        return kDeviceNotFound;
    }
    Status openByIndex(int index) override {
        if (open_) return kDeviceNotOpened;
        int count = 0;
        DeviceList list = findAll(ctx_.get(), count);
        libusb_device* dev = index >= 0 && index < count ? nth(list.get(), index) : nullptr;
        return dev ? openDevice(dev) : kDeviceNotFound;
    }
    Status close() override {
        if (!open_) return kInvalidHandle;
        std::scoped_lock lock(readMutex_, writeMutex_);
        ftdi_usb_close(ctx_.get());
        open_ = false;
        pending_.clear();
        return kOk;
    }

    Status setQueues(uint32_t in, uint32_t out) override {
        if (!open_) return kInvalidHandle;
        if (in == 0 || out == 0) return kInvalidParameter;
        if (ftdi_read_data_set_chunksize(ctx_.get(), in) != 0) return kOtherError;
        return ftdi_write_data_set_chunksize(ctx_.get(), out) == 0 ? kOk : kOtherError;
    }
    Status setTimeouts(const Timeouts& t) override {
        if (!open_) return kInvalidHandle;
        // Reads here never wait for more than what has arrived: one bulk
        // transfer ends within the latency timer, so only the write time-out
        // is a real bound.
        ctx_->usb_read_timeout = t.readConstantMs > 0 ? t.readConstantMs : 5000;
        ctx_->usb_write_timeout = t.writeConstantMs > 0 ? t.writeConstantMs : 15000;
        return kOk;
    }
    Status setDtr(bool raised) override {
        if (!open_) return kInvalidHandle;
        return ftdi_setdtr(ctx_.get(), raised ? 1 : 0) == 0 ? kOk : kIoError;
    }
    Status purge(bool receive, bool transmit) override {
        if (!open_) return kInvalidHandle;
        if (receive) {
            std::lock_guard<std::mutex> lock(readMutex_);
            pending_.clear();
            if (ftdi_tciflush(ctx_.get()) != 0) return kIoError;
        }
        if (transmit && ftdi_tcoflush(ctx_.get()) != 0) return kIoError;
        return kOk;
    }
    Status setLineSettings(const LineSettings& s) override {
        if (!open_) return kInvalidHandle;
        if ((s.dataBits != 7 && s.dataBits != 8) || (s.stopBits != 1 && s.stopBits != 2)) return kInvalidParameter;
        const ftdi_parity_type parity = s.parity == 'O' ? ODD : (s.parity == 'E' ? EVEN : NONE);
        if (ftdi_set_baudrate(ctx_.get(), s.baudRate) != 0) return kInvalidParameter;
        if (ftdi_set_line_property2(ctx_.get(), s.dataBits == 7 ? BITS_7 : BITS_8, s.stopBits == 2 ? STOP_BIT_2 : STOP_BIT_1,
                                    parity, BREAK_OFF) != 0)
            return kIoError;
        int r = 0;
        if (s.xonXoffFlow)
            r = ftdi_setflowctrl_xonxoff(ctx_.get(), s.xonChar, s.xoffChar);
        else
            r = ftdi_setflowctrl(ctx_.get(), s.rtsCtsFlow ? SIO_RTS_CTS_HS : SIO_DISABLE_FLOW_CTRL);
        return r == 0 ? kOk : kIoError;
    }
    Status setLatencyTimer(uint8_t ms) override {
        if (!open_) return kInvalidHandle;
        if (ms == 0) return kInvalidParameter;
        return ftdi_set_latency_timer(ctx_.get(), ms) == 0 ? kOk : kIoError;
    }

    Status queueStatus(QueueStatus& out) override {
        out = {};
        if (!open_) return kInvalidHandle;
        {
            std::lock_guard<std::mutex> lock(readMutex_);
            if (pending_.empty() && fetch() != kOk) return kIoError;
            out.input = static_cast<uint32_t>(pending_.size());
        }
        unsigned short modem = 0;
        {
            std::lock_guard<std::mutex> lock(writeMutex_);
            if (ftdi_poll_modem_status(ctx_.get(), &modem) != 0) return kIoError;
        }
        out.output = (modem & kTransmitterEmpty) ? 0 : 1;
        return kOk;
    }

    Status write(std::span<const uint8_t> bytes, std::size_t& written) override {
        written = 0;
        if (!open_) return kInvalidHandle;
        std::lock_guard<std::mutex> lock(writeMutex_);
        std::size_t done = 0;
        while (done < bytes.size()) {
            const std::size_t part = bytes.size() - done > 0x7FFFFFFF ? 0x7FFFFFFF : bytes.size() - done;
            int n = ftdi_write_data(ctx_.get(), bytes.data() + done, static_cast<int>(part));
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        written = done;
        return done == bytes.size() ? kOk : kIoError;
    }

    Status read(std::span<uint8_t> out, std::size_t& got) override {
        got = 0;
        if (!open_) return kInvalidHandle;
        std::lock_guard<std::mutex> lock(readMutex_);
        if (pending_.empty() && fetch() != kOk) return kIoError;
        got = out.size() < pending_.size() ? out.size() : pending_.size();
        std::memcpy(out.data(), pending_.data(), got);
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(got));
        return kOk;
    }

private:
    Status strings(int index, std::string* description, std::string* serial) {
        Context probe(ftdi_new());
        if (!probe) return kOtherError;
        int count = 0;
        DeviceList list = findAll(probe.get(), count);
        libusb_device* dev = index >= 0 && index < count ? nth(list.get(), index) : nullptr;
        if (!dev) return kDeviceNotFound;
        char d[kMaxStringLength + 1] = {}, s[kMaxStringLength + 1] = {};
        if (ftdi_usb_get_strings(probe.get(), dev, nullptr, 0, d, sizeof d, s, sizeof s) != 0) return kDeviceNotOpened;
        if (description) *description = d;
        if (serial) *serial = s;
        return kOk;
    }

    Status openDevice(libusb_device* dev) {
        const int r = ftdi_usb_open_dev(ctx_.get(), dev);
        if (r != 0) return r == -3 ? kDeviceNotFound : kDeviceNotOpened;
        open_ = true;
        pending_.clear();
        return kOk;
    }

    // Takes what the chip has buffered (caller holds readMutex_).
    Status fetch() {
        uint8_t buf[kFetchChunk];
        int n = ftdi_read_data(ctx_.get(), buf, sizeof buf);
        if (n < 0) return kIoError;
        pending_.insert(pending_.end(), buf, buf + n);
        return kOk;
    }

    Context ctx_;
    bool open_ = false;
    std::mutex readMutex_, writeMutex_;
    std::vector<uint8_t> pending_;
};

}  // namespace

std::unique_ptr<FtdiLink> createLibftdiLink() {
    auto link = std::make_unique<LibftdiLink>();
    if (!link->valid()) return nullptr;
    return link;
}

}  // namespace tavik::ftdi
