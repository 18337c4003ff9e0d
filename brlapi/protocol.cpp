// Packet framing and the readers and writers of the fixed packet layouts.
#include "brlapi/protocol.h"

#include <algorithm>

namespace tavik::brl {

namespace {

uint32_t readBe32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

}  // namespace

void putU32(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v >> 24));
    out.push_back(static_cast<uint8_t>(v >> 16));
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

PacketReader::Result PacketReader::feed(std::span<const uint8_t> in, std::vector<Packet>& out) {
    std::size_t at = 0;
    while (at < in.size()) {
        if (!inBody_) {
            const std::size_t take = std::min(kHeaderSize - have_, in.size() - at);
            std::copy_n(in.begin() + static_cast<std::ptrdiff_t>(at), take, header_ + have_);
            have_ += take;
            at += take;
            if (have_ < kHeaderSize) break;
            size_ = readBe32(header_);
            type_ = readBe32(header_ + 4);
            have_ = 0;
            if (size_ > kMaxPacketSize) return Result::Oversized;
            inBody_ = true;
            body_.clear();
            body_.reserve(size_);
        }
        const std::size_t take = std::min<std::size_t>(size_ - body_.size(), in.size() - at);
        body_.insert(body_.end(), in.begin() + static_cast<std::ptrdiff_t>(at),
                     in.begin() + static_cast<std::ptrdiff_t>(at + take));
        at += take;
        if (body_.size() == size_) {
            out.push_back({type_, std::move(body_)});
            body_ = {};
            inBody_ = false;
        }
    }
    return Result::Ok;
}

std::vector<uint8_t> encodePacket(uint32_t type, std::span<const uint8_t> body) {
    std::vector<uint8_t> out;
    out.reserve(kHeaderSize + body.size());
    putU32(out, static_cast<uint32_t>(body.size()));
    putU32(out, type);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::vector<uint8_t> encodeError(uint32_t packetType, ErrorCode code, uint32_t offending,
                                 std::span<const uint8_t> offendingBody) {
    std::vector<uint8_t> body;
    putU32(body, static_cast<uint32_t>(code));
    putU32(body, offending);
    const std::size_t keep = std::min(offendingBody.size(), kMaxPacketSize - 8);
    body.insert(body.end(), offendingBody.begin(), offendingBody.begin() + static_cast<std::ptrdiff_t>(keep));
    return encodePacket(packetType, body);
}

bool BodyReader::u8(uint8_t& v) {
    if (left() < 1) return false;
    v = body_[at_++];
    return true;
}

bool BodyReader::u32(uint32_t& v) {
    if (left() < 4) return false;
    v = readBe32(body_.data() + at_);
    at_ += 4;
    return true;
}

bool BodyReader::bytes(std::size_t n, std::span<const uint8_t>& v) {
    if (left() < n) return false;
    v = body_.subspan(at_, n);
    at_ += n;
    return true;
}

std::optional<TtyRequest> parseTtyRequest(std::span<const uint8_t> body) {
    BodyReader r(body);
    uint32_t count = 0;
    if (!r.u32(count)) return std::nullopt;
    // Compared in 64 bits: a count near 2^32 must not wrap.
    if (uint64_t{count} * 4 + 1 > r.left()) return std::nullopt;
    TtyRequest t;
    t.path.resize(count);
    for (auto& tty : t.path) r.u32(tty);
    uint8_t len = 0;
    std::span<const uint8_t> name;
    if (!r.u8(len) || !r.bytes(len, name) || r.left() != 0) return std::nullopt;
    t.driver.assign(name.begin(), name.end());
    return t;
}

std::optional<std::vector<KeyRange>> parseKeyRanges(std::span<const uint8_t> body) {
    if (body.size() % 16 != 0) return std::nullopt;
    BodyReader r(body);
    std::vector<KeyRange> ranges(body.size() / 16);
    for (auto& range : ranges) {
        uint32_t a = 0, b = 0, c = 0, d = 0;
        r.u32(a), r.u32(b), r.u32(c), r.u32(d);
        range.first = (uint64_t{a} << 32) | b;
        range.last = (uint64_t{c} << 32) | d;
    }
    return ranges;
}

WriteParse parseWrite(std::span<const uint8_t> body, uint32_t cells) {
    WriteParse result;
    BodyReader r(body);
    uint32_t flags = 0;
    if (!r.u32(flags) || (flags & ~wf::kAll) != 0) return result;
    WriteRequest w;
    w.empty = flags == 0;
    w.size = cells;
    bool badParameter = false;
    if (flags & wf::kDisplayNumber) {
        uint32_t display = 0;
        if (!r.u32(display)) return result;
        // One display only: the default (all ones) or number 0.
        if (display != 0 && display != 0xFFFFFFFFu) badParameter = true;
    }
    if (flags & wf::kRegion) {
        uint32_t size = 0;
        if (!r.u32(w.begin) || !r.u32(size)) return result;
        // A negative size (as a signed number) pads or cuts the text to the
        // rest of the display from `begin`; the region is its magnitude.
        const int32_t signedSize = static_cast<int32_t>(size);
        w.fillRest = signedSize < 0;
        w.size = w.fillRest ? static_cast<uint32_t>(-static_cast<int64_t>(signedSize)) : size;
        if (w.begin < 1 || w.size == 0 || uint64_t{w.begin} + w.size - 1 > cells) badParameter = true;
    }
    if (flags & wf::kText) {
        uint32_t len = 0;
        std::span<const uint8_t> text;
        if (!r.u32(len) || !r.bytes(len, text)) return result;
        w.text.emplace(text.begin(), text.end());
    }
    // The masks are one byte per cell of the region.
    const std::size_t maskSize = badParameter ? 0 : w.size;
    for (uint32_t flag : {wf::kAndMask, wf::kOrMask}) {
        if (!(flags & flag)) continue;
        std::span<const uint8_t> mask;
        if (badParameter || !r.bytes(maskSize, mask)) return result;
        (flag == wf::kAndMask ? w.andMask : w.orMask).emplace(mask.begin(), mask.end());
    }
    if (flags & wf::kCursor) {
        uint32_t cursor = 0;
        if (!r.u32(cursor)) return result;
        if (cursor > cells) badParameter = true;
        w.cursor = cursor;
    }
    if (flags & wf::kCharset) {
        uint8_t len = 0;
        std::span<const uint8_t> name;
        if (!r.u8(len) || !r.bytes(len, name)) return result;
        w.charset.assign(name.begin(), name.end());
    }
    if (r.left() != 0) return result;
    if (badParameter) {
        result.error = ErrorCode::InvalidParameter;
        return result;
    }
    result.request = std::move(w);
    return result;
}

namespace {

std::optional<ParamRequest> parseParamHead(BodyReader& r) {
    ParamRequest p;
    uint32_t hi = 0, lo = 0;
    if (!r.u32(p.flags) || !r.u32(p.param) || !r.u32(hi) || !r.u32(lo)) return std::nullopt;
    p.subparam = (uint64_t{hi} << 32) | lo;
    return p;
}

}  // namespace

std::optional<ParamRequest> parseParamRequest(std::span<const uint8_t> body) {
    BodyReader r(body);
    auto p = parseParamHead(r);
    if (!p || r.left() != 0) return std::nullopt;
    return p;
}

std::optional<ParamRequest> parseParamValue(std::span<const uint8_t> body) {
    BodyReader r(body);
    auto p = parseParamHead(r);
    if (!p) return std::nullopt;
    r.bytes(r.left(), p->value);
    return p;
}

std::vector<uint8_t> encodeParamValue(uint32_t flags, uint32_t param, uint64_t subparam,
                                      std::span<const uint8_t> value) {
    std::vector<uint8_t> body;
    putU32(body, flags);
    putU32(body, param);
    putU32(body, static_cast<uint32_t>(subparam >> 32));
    putU32(body, static_cast<uint32_t>(subparam));
    body.insert(body.end(), value.begin(), value.end());
    return body;
}

}  // namespace tavik::brl
