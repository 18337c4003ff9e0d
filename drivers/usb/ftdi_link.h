// FtdiLink: the FTDI USB-serial bridge as the USB plug-in and the client
// library's USB detection use it: listing devices, opening one by serial
// number or index, and the byte transport with its queue and line controls.
// Implementations: libftdi1 (real devices) and a double on pseudo-terminals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace tavik::ftdi {

// Result of every call: 0 success, anything else a failure.
using Status = int;
inline constexpr Status kOk = 0;
inline constexpr Status kInvalidHandle = 1;      // no device is open
inline constexpr Status kDeviceNotFound = 2;     // no device with that serial number or index
inline constexpr Status kDeviceNotOpened = 3;    // found, but it could not be opened or claimed
inline constexpr Status kIoError = 4;            // the transfer failed; the device may be gone
inline constexpr Status kInvalidParameter = 6;
inline constexpr Status kOtherError = 18;

// The largest serial number or description (as the USB detection stores them).
inline constexpr std::size_t kMaxStringLength = 63;

struct LineSettings {
    int baudRate = 921600;
    int dataBits = 8;       // 7 or 8
    char parity = 'N';      // 'N', 'O', 'E'
    int stopBits = 1;       // 1 or 2
    bool rtsCtsFlow = false;
    bool xonXoffFlow = false;
    uint8_t xonChar = 0x11;
    uint8_t xoffChar = 0x13;
};

// Milliseconds; a constant of 0 means "no time-out".
struct Timeouts {
    int readIntervalMs = 0;
    int readMultiplierMs = 0;
    int readConstantMs = 15000;
    int writeMultiplierMs = 0;
    int writeConstantMs = 15000;
};

struct QueueStatus {
    uint32_t input = 0;   // bytes received and not yet read
    uint32_t output = 0;  // bytes written and not yet sent (0: the output is drained)
};

// One link holds at most one open device. Listing works whether or not a
// device is open. No call blocks longer than its time-out; none throws.
// Calls on an open device may come from two threads at once (one reading,
// one writing); opening and closing must not race with them.
class FtdiLink {
public:
    virtual ~FtdiLink() = default;  // closes an open device

    // ---- listing (the devices present now, in a stable order)
    virtual Status deviceCount(int& count) = 0;
    virtual Status serialNumber(int index, std::string& out) = 0;
    virtual Status description(int index, std::string& out) = 0;

    // ---- opening and closing
    virtual Status openBySerial(std::string_view serial) = 0;
    virtual Status openByIndex(int index) = 0;
    virtual Status close() = 0;  // kInvalidHandle when nothing is open

    // ---- settings of the open device
    virtual Status setQueues(uint32_t inputBytes, uint32_t outputBytes) = 0;
    virtual Status setTimeouts(const Timeouts& timeouts) = 0;
    virtual Status setDtr(bool raised) = 0;
    virtual Status purge(bool receive, bool transmit) = 0;
    virtual Status setLineSettings(const LineSettings& settings) = 0;
    // How long the chip holds back a partly filled packet (1..255 ms).
    virtual Status setLatencyTimer(uint8_t ms) = 0;

    // ---- transport
    // Queue counts now; a failure means the device is gone.
    virtual Status queueStatus(QueueStatus& out) = 0;
    // Writes every byte, blocking up to the write time-out; `written` tells
    // how many left. Anything short of all is a failure status.
    virtual Status write(std::span<const uint8_t> bytes, std::size_t& written) = 0;
    // Takes up to out.size() bytes that have arrived, without waiting for
    // more; `got` may be 0.
    virtual Status read(std::span<uint8_t> out, std::size_t& got) = 0;
};

// The link the system uses: the pseudo-terminal double when the environment
// variable TAVIK_FTDI_DOUBLE names its device list, else libftdi1. Null when
// neither is available in this build.
std::unique_ptr<FtdiLink> createFtdiLink();

// libftdi1 on the real USB devices (null when built without it).
std::unique_ptr<FtdiLink> createLibftdiLink();

// The double: devices come from `listFile`, one a line "serial|description|
// /path/to/pty" (blank lines and lines starting with '#' are skipped), read
// anew at each listing or opening. Every call on an open device is appended as
// one line to `listFile` + ".log" ("line 921600 8 N 1 none", "write 390", ...),
// so a test can see what the plug-in asked for.
std::unique_ptr<FtdiLink> createPtyDoubleLink(std::string listFile);

}  // namespace tavik::ftdi
