// The numbers of the braille client protocol (the one screen readers speak to
// a braille server over a stream socket) and its packet codec: framing with a
// hard size limit, and readers and writers for the fixed packet layouts. Pure:
// no sockets, no device; every layout is read with its length checked first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tavik::brl {

// ---- Framing ----
// A packet is a 32-bit content size and a 32-bit type, both in network byte
// order, followed by the content. Content larger than this is refused.
constexpr uint32_t kProtocolVersion = 8;
constexpr std::size_t kMaxPacketSize = 4096;
constexpr std::size_t kHeaderSize = 8;

// ---- Packet types ----
namespace pkt {
constexpr uint32_t kVersion = 'v';
constexpr uint32_t kAuth = 'a';
constexpr uint32_t kGetDriverName = 'n';
constexpr uint32_t kGetModelId = 'd';
constexpr uint32_t kGetDisplaySize = 's';
constexpr uint32_t kEnterTtyMode = 't';
constexpr uint32_t kSetFocus = 'F';
constexpr uint32_t kLeaveTtyMode = 'L';
constexpr uint32_t kKey = 'k';
constexpr uint32_t kIgnoreKeyRanges = 'm';
constexpr uint32_t kAcceptKeyRanges = 'u';
constexpr uint32_t kWrite = 'w';
constexpr uint32_t kEnterRawMode = '*';
constexpr uint32_t kLeaveRawMode = '#';
constexpr uint32_t kRawPacket = 'p';
constexpr uint32_t kAck = 'A';
constexpr uint32_t kError = 'e';      // answer to a request that waits for one
constexpr uint32_t kException = 'E';  // fault in a packet nobody waits on (write, focus)
constexpr uint32_t kSuspendDriver = 'S';
constexpr uint32_t kResumeDriver = 'R';
constexpr uint32_t kSynchronize = 'Z';
constexpr uint32_t kParamValue = ('P' << 8) + 'V';
constexpr uint32_t kParamRequest = ('P' << 8) + 'R';
constexpr uint32_t kParamUpdate = ('P' << 8) + 'U';
}  // namespace pkt

// ---- Authorisation methods offered in the server's auth packet ----
namespace auth {
constexpr uint32_t kNone = 'N';  // the socket itself admits only its owner
constexpr uint32_t kKey = 'K';   // the client proves it can read the key file
}  // namespace auth

// ---- Error codes carried by error and exception packets ----
enum class ErrorCode : uint32_t {
    TtyBusy = 2,
    UnknownInstruction = 4,
    IllegalInstruction = 5,
    InvalidParameter = 6,
    InvalidPacket = 7,
    OperationNotSupported = 9,
    ProtocolVersion = 13,
    Authentication = 17,
    ReadOnlyParameter = 18,
};

// ---- Write packet: which optional fields follow the flags, in this order ----
namespace wf {
constexpr uint32_t kDisplayNumber = 0x01;
constexpr uint32_t kRegion = 0x02;
constexpr uint32_t kText = 0x04;
constexpr uint32_t kAndMask = 0x08;
constexpr uint32_t kOrMask = 0x10;
constexpr uint32_t kCursor = 0x20;
constexpr uint32_t kCharset = 0x40;
constexpr uint32_t kAll = 0x7F;
}  // namespace wf

// ---- Parameters ----
namespace param {
constexpr uint32_t kServerVersion = 0;
constexpr uint32_t kClientPriority = 1;
constexpr uint32_t kDriverName = 2;
constexpr uint32_t kDriverCode = 3;
constexpr uint32_t kDriverVersion = 4;
constexpr uint32_t kDeviceModel = 5;
constexpr uint32_t kDisplaySize = 6;
constexpr uint32_t kDeviceIdentifier = 7;
constexpr uint32_t kDeviceOnline = 9;
constexpr uint32_t kRetainDots = 10;
constexpr uint32_t kComputerBrailleCellSize = 11;
constexpr uint32_t kLiteraryBraille = 12;
constexpr uint32_t kCursorDots = 13;
constexpr uint32_t kRenderedCells = 16;
constexpr uint32_t kComputerBrailleTable = 28;
constexpr uint32_t kMessageLocale = 30;
constexpr uint32_t kDeviceCellSize = 31;
// Request flags.
constexpr uint32_t kGlobal = 0x01;
constexpr uint32_t kSelf = 0x02;
constexpr uint32_t kGet = 0x100;
constexpr uint32_t kSubscribe = 0x200;
constexpr uint32_t kUnsubscribe = 0x400;
constexpr uint32_t kDefaultPriority = 50;
constexpr uint32_t kMaxPriority = 100;
}  // namespace param

// ---- Key codes (64-bit) of command keys ----
namespace key {
constexpr uint64_t kTypeCommand = 0x20000000;
constexpr uint64_t kCommandRoute = 0x10000;  // block of "route the cursor to cell N"
constexpr uint64_t kLineUp = 1;
constexpr uint64_t kLineDown = 2;
constexpr uint64_t kTopLeft = 11;     // top of the screen, left edge
constexpr uint64_t kBottomLeft = 12;  // bottom of the screen, left edge
constexpr uint64_t kWindowLeft = 23;   // full window left
constexpr uint64_t kWindowRight = 24;  // full window right
constexpr uint64_t kHome = 29;         // back to the cursor
constexpr uint64_t command(uint64_t c) { return kTypeCommand | c; }
}  // namespace key

// ---- Cells: one byte a cell, bit n-1 = dot n (dots 1..8) ----
constexpr uint8_t kCursorDots = 0xC0;  // dots 7 and 8 under the cursor

struct Packet {
    uint32_t type = 0;
    std::vector<uint8_t> body;
};

// Splits a byte stream into packets. Holds at most one header and one content
// of at most kMaxPacketSize bytes, so a client can never make it grow.
class PacketReader {
public:
    enum class Result { Ok, Oversized };
    // Takes every byte of `in`, appending each completed packet to `out`.
    // Oversized: a header announced more than kMaxPacketSize bytes (its type is
    // in oversizedType()); the stream cannot be followed after that and the
    // bytes after the header are not taken.
    Result feed(std::span<const uint8_t> in, std::vector<Packet>& out);
    uint32_t oversizedType() const { return type_; }
    // True while part of a packet has arrived (a close now truncates it).
    bool midPacket() const { return have_ > 0 || !body_.empty(); }

private:
    uint8_t header_[kHeaderSize] = {};
    std::size_t have_ = 0;  // header bytes held
    uint32_t size_ = 0, type_ = 0;
    bool inBody_ = false;
    std::vector<uint8_t> body_;
};

// One packet on the wire: header and content.
std::vector<uint8_t> encodePacket(uint32_t type, std::span<const uint8_t> body);
// The error (or exception) packet for a fault in a packet of type `offending`;
// carries the first bytes of that packet's content, as far as they fit.
std::vector<uint8_t> encodeError(uint32_t packetType, ErrorCode code, uint32_t offending,
                                 std::span<const uint8_t> offendingBody = {});

// Appends big-endian numbers to a content being built.
void putU32(std::vector<uint8_t>& out, uint32_t v);

// Reads a content front to back; every read fails (false) instead of passing the end.
class BodyReader {
public:
    explicit BodyReader(std::span<const uint8_t> body) : body_(body) {}
    bool u8(uint8_t& v);
    bool u32(uint32_t& v);
    bool bytes(std::size_t n, std::span<const uint8_t>& v);
    std::size_t left() const { return body_.size() - at_; }

private:
    std::span<const uint8_t> body_;
    std::size_t at_ = 0;
};

// ---- Parsed requests ----

// Enter tty mode: the tty path the client sits in and the key set it wants
// ("" = command keys).
struct TtyRequest {
    std::vector<uint32_t> path;
    std::string driver;
};
std::optional<TtyRequest> parseTtyRequest(std::span<const uint8_t> body);

// Key ranges of an accept or ignore packet (inclusive bounds).
struct KeyRange {
    uint64_t first = 0, last = 0;
};
std::optional<std::vector<KeyRange>> parseKeyRanges(std::span<const uint8_t> body);

// A write, checked against a display of `cells` cells (columns x rows).
struct WriteRequest {
    uint32_t begin = 1;  // first cell of the region, 1-based
    uint32_t size = 0;   // cells of the region
    bool fillRest = false;  // the text is padded or cut to the region, the rest of the display cleared
    bool empty = false;     // no field at all: the client's display is cleared
    std::optional<std::vector<uint8_t>> text;  // raw bytes in `charset`
    std::optional<std::vector<uint8_t>> andMask, orMask;  // `size` bytes each
    std::optional<uint32_t> cursor;  // 0 = no cursor, else 1-based cell
    std::string charset;
};
// Fails with InvalidPacket for a malformed content and InvalidParameter for a
// region or cursor outside the display or an unknown display number.
struct WriteParse {
    std::optional<WriteRequest> request;
    ErrorCode error = ErrorCode::InvalidPacket;
};
WriteParse parseWrite(std::span<const uint8_t> body, uint32_t cells);

struct ParamRequest {
    uint32_t flags = 0, param = 0;
    uint64_t subparam = 0;
    std::span<const uint8_t> value;  // only in a value (set) packet
};
std::optional<ParamRequest> parseParamRequest(std::span<const uint8_t> body);
std::optional<ParamRequest> parseParamValue(std::span<const uint8_t> body);
// A value or update packet's content.
std::vector<uint8_t> encodeParamValue(uint32_t flags, uint32_t param, uint64_t subparam,
                                      std::span<const uint8_t> value);

}  // namespace tavik::brl
