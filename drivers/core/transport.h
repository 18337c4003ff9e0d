// The byte transport under the wire protocol: a serial port, an FTDI USB link
// or a test double. One transport belongs to one started plug-in; the receive
// thread reads while other threads write (under the port send lock).
#pragma once

#include <cstdint>
#include <span>

namespace tavik::drv {

class Transport {
public:
    virtual ~Transport() = default;

    // Writes every byte. Blocks until the bytes were handed to the device or
    // the write time-out (15 s) passed; false on failure, time-out or cancel.
    // The frame is then lost: callers do not retry.
    virtual bool write(std::span<const uint8_t> bytes) = 0;

    // Waits up to timeoutMs for input, then takes what is queued, at most
    // out.size() bytes. Returns the count (0: nothing arrived), or -1 when the
    // device is gone or the transport was cancelled.
    virtual int read(std::span<uint8_t> out, int timeoutMs) = 0;

    // Drops what is queued in both directions.
    virtual void purge() = 0;

    // Waits up to timeoutMs until every written byte has left; true when the
    // output queue is empty.
    virtual bool drainOutput(int timeoutMs) = 0;

    // Makes blocked and later read/write calls return at once (stopping).
    virtual void cancel() = 0;
};

}  // namespace tavik::drv
