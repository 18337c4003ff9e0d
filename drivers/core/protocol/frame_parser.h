// Receive side of the wire protocol: a byte-at-a-time parser for the frames and
// bare bytes a device sends, and the per-variant table of how the computer
// reacts to each complete device frame. Pure: no threads, no I/O, no allocation.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "protocol_constants.h"

namespace tavik::proto {

// One complete device frame as the parser dispatches it.
struct ParsedFrame {
    uint8_t command = 0;
    uint8_t parameter = 0;
    uint16_t announcedLength = 0;  // L of the header
    uint32_t receivedLength = 0;   // payload bytes counted (less than L when 0x43 ended early)
    // The stored payload bytes (at most kParserStoreCap). The parser's buffer
    // holds one 0x00 right after them: payload.data()[payload.size()] == 0.
    std::span<const uint8_t> payload;
};

// Receives the parser's results, synchronously from inside FrameParser::step().
// The spans are valid only during the call.
class ParserSink {
public:
    virtual ~ParserSink() = default;
    // A complete frame (its payload rule was met).
    virtual void onFrame(const ParsedFrame& frame) = 0;
    // Bytes that did not start a frame (1 or 2 bytes): they belong to the reply
    // queue, where they may answer the next request.
    virtual void onStray(std::span<const uint8_t> bytes) = 0;
};

// Byte-at-a-time receive parser. States: waiting for the 6-byte header,
// receiving a payload, skipping a payload that broke its length rule (or 48
// bytes after a header whose third byte is 0x00 or 0x02). Payload rules: 0x41
// and 0x49 need L = 128, 0x48 and 0x4A need L = 2, 0x43 needs L <= 1024 and ends
// early at (and including) its first 0x00; every other command takes L bytes.
// Payload bytes beyond kParserStoreCap are counted, not stored. kIdleResetMs of
// silence returns the parser to waiting for a header.
// What one FrameParser::step() did.
enum class Step {
    Idle,      // no byte was given
    Partial,   // a byte was taken, no frame completed (stray bytes may have been reported)
    Complete,  // a frame was dispatched to the sink
};

class FrameParser {
public:
    using Step = tavik::proto::Step;

    explicit FrameParser(ParserSink& sink) : sink_(sink) {}
    FrameParser(const FrameParser&) = delete;
    FrameParser& operator=(const FrameParser&) = delete;

    // Feeds one byte, or std::nullopt when the transport had none. With no byte,
    // a parser that has seen no byte for kIdleResetMs or more (by `nowMs`, any
    // monotonic millisecond clock) resets. A byte that arrives after such a
    // silence is likewise taken as the start of something new.
    Step step(std::optional<uint8_t> byte, uint64_t nowMs);

    // Feeds a run of bytes that arrived together; returns the frames completed.
    size_t feed(std::span<const uint8_t> bytes, uint64_t nowMs);

    // Back to waiting for a header (e.g. after the port was purged).
    void reset();

    // True while waiting for the first header byte.
    bool waiting() const { return state_ == State::Header && pos_ == 0; }

private:
    enum class State { Header, Payload, Skipping };

    Step dispatch();
    void enterPayload();

    ParserSink& sink_;
    State state_ = State::Header;
    uint8_t command_ = 0;
    uint8_t parameter_ = 0;
    uint16_t announced_ = 0;
    uint32_t expected_ = 0;
    uint32_t pos_ = 0;  // bytes of the current header or payload (1-based position of the last)
    uint64_t lastByteMs_ = 0;
    bool seenByte_ = false;
    std::array<uint8_t, kFrameHeaderSize> header_{};
    std::array<uint8_t, kParserStoreCap + 1> buffer_{};  // payload + terminating 0x00
};

// ---- Reactions to complete device frames --------------------------------------------

enum class DeviceEvent : uint8_t {
    None,
    Key,        // notify code 4, payload bytes 0..3 to the foreground (else default) slot
    DataBlock,  // notify code 6, parameter as code and the payload, to the foreground (else default) slot
    Broadcast,  // notify code 5, payload bytes 0..3 to every slot
};

// What the computer does for a complete frame: write `replyBytes` bare 0x00 bytes
// (0, 1, 2 or 32) to the device, and raise `event`.
struct DeviceFrameReaction {
    uint8_t replyBytes = 0;
    DeviceEvent event = DeviceEvent::None;
};

using ReactionTable = std::array<DeviceFrameReaction, 256>;

// The tactile display: 0x10 -> 32 zero bytes; 0x11, 0x20, 0x40, 0x41, 0x43, 0x48,
// 0x4A -> one; 0x21 -> two; 0xE1 key, 0xE2 data block, 0xE4 broadcast.
extern const ReactionTable kTactileReactions;
// The note-taker: the same bare answers; 0xF0 is its key event; 0xE1, 0xE2 and
// 0xE4 are ignored.
extern const ReactionTable kNoteTakerReactions;

// Reaction of the tactile display table.
DeviceFrameReaction reactionFor(uint8_t command);
inline DeviceFrameReaction reactionFor(const ReactionTable& table, uint8_t command) { return table[command]; }

}  // namespace tavik::proto
