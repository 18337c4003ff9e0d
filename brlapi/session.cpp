// The per-connection state machine of the braille server.
#include "brlapi/session.h"

#include <algorithm>

#include "brlapi/charset.h"

namespace tavik::brl {

namespace {

std::vector<uint8_t> u32Body(std::initializer_list<uint32_t> values) {
    std::vector<uint8_t> b;
    for (uint32_t v : values) putU32(b, v);
    return b;
}

Outcome reply(std::vector<uint8_t> packet) {
    Outcome o;
    o.send.push_back(std::move(packet));
    return o;
}

Outcome ack() { return reply(encodePacket(pkt::kAck, {})); }

Outcome error(ErrorCode code, const Packet& p, bool close = false) {
    Outcome o = reply(encodeError(pkt::kError, code, p.type, p.body));
    o.close = close;
    return o;
}

// For packets the client does not wait on: it learns of the fault as an exception.
Outcome exception(ErrorCode code, const Packet& p) { return reply(encodeError(pkt::kException, code, p.type, p.body)); }

std::vector<uint8_t> stringValue(const std::string& s) { return {s.begin(), s.end()}; }

// Constant-time comparison: how long it takes says nothing about the key.
bool sameKey(std::span<const uint8_t> a, std::span<const uint8_t> b) {
    if (a.size() != b.size()) return false;
    uint8_t diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<uint8_t>(a[i] ^ b[i]);
    return diff == 0;
}

}  // namespace

std::vector<uint8_t> Session::greeting() { return encodePacket(pkt::kVersion, u32Body({kProtocolVersion})); }

Outcome Session::oversized(uint32_t type) {
    Outcome o = reply(encodeError(pkt::kError, ErrorCode::InvalidPacket, type));
    o.close = true;
    return o;
}

void Session::resetWindow(std::size_t cells) {
    text_.assign(cells, U' ');
    and_.assign(cells, 0xFF);
    or_.assign(cells, 0);
    cursor_ = 0;
}

Outcome Session::handle(const Packet& p, const DisplayFacts& facts) {
    switch (phase_) {
    case Phase::Version: {
        if (p.type != pkt::kVersion) return error(ErrorCode::IllegalInstruction, p, true);
        BodyReader r(p.body);
        uint32_t version = 0;
        if (!r.u32(version) || r.left() != 0) return error(ErrorCode::InvalidPacket, p, true);
        if (version != kProtocolVersion) return error(ErrorCode::ProtocolVersion, p, true);
        phase_ = policy_.none ? Phase::Ready : Phase::Auth;
        return reply(encodePacket(pkt::kAuth, u32Body({policy_.none ? auth::kNone : auth::kKey})));
    }
    case Phase::Auth: {
        if (p.type != pkt::kAuth) return error(ErrorCode::IllegalInstruction, p, true);
        BodyReader r(p.body);
        uint32_t method = 0;
        std::span<const uint8_t> key;
        if (!r.u32(method) || !r.bytes(r.left(), key)) return error(ErrorCode::InvalidPacket, p, true);
        if (method != auth::kKey || policy_.key.empty() || !sameKey(key, policy_.key))
            return error(ErrorCode::Authentication, Packet{p.type, {}}, true);  // never echoes the key
        phase_ = Phase::Ready;
        return ack();
    }
    case Phase::Ready: return handleReady(p, facts);
    }
    return {};
}

Outcome Session::handleReady(const Packet& p, const DisplayFacts& facts) {
    const std::size_t cells = std::size_t{facts.columns} * facts.rows;
    switch (p.type) {
    case pkt::kGetDriverName:
    case pkt::kGetModelId: {
        std::string name = p.type == pkt::kGetDriverName ? facts.driverName : facts.model;
        std::vector<uint8_t> body(name.begin(), name.end());
        body.push_back(0);
        return reply(encodePacket(p.type, body));
    }
    case pkt::kGetDisplaySize: return reply(encodePacket(p.type, u32Body({facts.columns, facts.rows})));
    case pkt::kEnterTtyMode: {
        if (tty_) return error(ErrorCode::IllegalInstruction, p);
        auto t = parseTtyRequest(p.body);
        if (!t) return error(ErrorCode::InvalidPacket, p);
        // Only command keys: the device's own key codes are not offered.
        if (!t->driver.empty()) return error(ErrorCode::OperationNotSupported, p);
        tty_ = true;
        keys_.reset();
        resetWindow(cells);
        Outcome o = ack();
        o.displayChanged = true;
        return o;
    }
    case pkt::kSetFocus:
        if (p.body.size() != 4) return exception(ErrorCode::InvalidPacket, p);
        return {};
    case pkt::kLeaveTtyMode: {
        if (!tty_) return error(ErrorCode::IllegalInstruction, p);
        tty_ = false;
        Outcome o = ack();
        o.displayChanged = true;
        return o;
    }
    case pkt::kIgnoreKeyRanges:
    case pkt::kAcceptKeyRanges: {
        auto ranges = parseKeyRanges(p.body);
        if (!ranges) return error(ErrorCode::InvalidPacket, p);
        for (const auto& r : *ranges)
            if (!(p.type == pkt::kAcceptKeyRanges ? keys_.accept(r) : keys_.ignore(r)))
                return error(ErrorCode::InvalidParameter, p);
        return ack();
    }
    case pkt::kWrite: return write(p, facts);
    case pkt::kEnterRawMode:
    case pkt::kSuspendDriver: return error(ErrorCode::OperationNotSupported, p);
    case pkt::kLeaveRawMode:
    case pkt::kResumeDriver: return error(ErrorCode::IllegalInstruction, p);
    case pkt::kRawPacket: return exception(ErrorCode::IllegalInstruction, p);
    case pkt::kSynchronize: return ack();
    case pkt::kParamRequest: return paramRequest(p, facts);
    case pkt::kParamValue: return paramSet(p);
    case pkt::kVersion:
    case pkt::kAuth: return error(ErrorCode::IllegalInstruction, p);
    default: return error(ErrorCode::UnknownInstruction, p);
    }
}

Outcome Session::write(const Packet& p, const DisplayFacts& facts) {
    if (!tty_) return exception(ErrorCode::IllegalInstruction, p);
    const uint32_t cells = facts.columns * facts.rows;
    fitWindow(cells);
    WriteParse parsed = parseWrite(p.body, cells);
    if (!parsed.request) return exception(parsed.error, p);
    const WriteRequest& w = *parsed.request;
    Outcome o;
    o.displayChanged = true;
    if (w.empty) {
        resetWindow(cells);
        return o;
    }
    const std::size_t begin = w.begin - 1;
    if (w.text) {
        auto text = decodeText(*w.text, w.charset);
        if (!text || (!w.fillRest && text->size() > w.size)) return exception(ErrorCode::InvalidParameter, p);
        // A write that fills the rest clears every cell after its region.
        const std::size_t end = w.fillRest ? cells : begin + w.size;
        text->resize(std::min<std::size_t>(text->size(), w.size));
        for (std::size_t i = begin; i < end; ++i) {
            const std::size_t k = i - begin;
            text_[i] = k < text->size() ? (*text)[k] : U' ';
            and_[i] = 0xFF;
            or_[i] = 0;
        }
    }
    if (w.andMask) std::copy(w.andMask->begin(), w.andMask->end(), and_.begin() + static_cast<std::ptrdiff_t>(begin));
    if (w.orMask) std::copy(w.orMask->begin(), w.orMask->end(), or_.begin() + static_cast<std::ptrdiff_t>(begin));
    if (w.cursor) cursor_ = *w.cursor;
    return o;
}

bool Session::paramValue(uint32_t param, uint64_t subparam, const DisplayFacts& facts,
                         std::vector<uint8_t>& value) const {
    if (subparam != 0) return false;
    switch (param) {
    case param::kServerVersion: value = u32Body({kProtocolVersion}); return true;
    case param::kClientPriority: value = u32Body({priority_}); return true;
    case param::kDriverName: value = stringValue(facts.driverName); return true;
    case param::kDriverCode: value = stringValue(facts.driverCode); return true;
    case param::kDriverVersion: value = stringValue(TAVIK_VERSION_STRING); return true;
    case param::kDeviceModel: value = stringValue(facts.model); return true;
    case param::kDeviceIdentifier: value = stringValue(facts.identifier); return true;
    case param::kDisplaySize: value = u32Body({facts.columns, facts.rows}); return true;
    case param::kDeviceOnline: value = {1}; return true;
    case param::kRetainDots: value = {0}; return true;
    case param::kComputerBrailleCellSize: value = {8}; return true;
    case param::kDeviceCellSize: value = {8}; return true;
    case param::kLiteraryBraille: value = {0}; return true;
    case param::kCursorDots: value = {kCursorDots}; return true;
    case param::kRenderedCells: value = facts.renderedCells; return true;
    case param::kComputerBrailleTable: value = stringValue(facts.table); return true;
    default: return false;
    }
}

Outcome Session::paramRequest(const Packet& p, const DisplayFacts& facts) {
    auto r = parseParamRequest(p.body);
    if (!r) return error(ErrorCode::InvalidPacket, p);
    if ((r->flags & param::kSubscribe) && (r->flags & param::kUnsubscribe)) return error(ErrorCode::InvalidParameter, p);
    std::vector<uint8_t> value;
    if (!paramValue(r->param, r->subparam, facts, value)) return error(ErrorCode::InvalidParameter, p);
    if (r->flags & param::kSubscribe) {
        // Bounded: one watch a parameter is all a client needs, a few more are kept.
        if (watched_.count(r->param) >= 16) return error(ErrorCode::InvalidParameter, p);
        watched_.insert(r->param);
    }
    if (r->flags & param::kUnsubscribe) {
        auto it = watched_.find(r->param);
        if (it != watched_.end()) watched_.erase(it);
    }
    if (!(r->flags & param::kGet)) return ack();
    return reply(encodePacket(pkt::kParamValue,
                              encodeParamValue(r->flags & param::kGlobal, r->param, r->subparam, value)));
}

Outcome Session::paramSet(const Packet& p) {
    auto r = parseParamValue(p.body);
    if (!r) return error(ErrorCode::InvalidPacket, p);
    if (r->param != param::kClientPriority) {
        std::vector<uint8_t> ignored;
        return error(paramValue(r->param, r->subparam, DisplayFacts{}, ignored) ? ErrorCode::ReadOnlyParameter
                                                                               : ErrorCode::InvalidParameter,
                     p);
    }
    BodyReader v(r->value);
    uint32_t priority = 0;
    if (!v.u32(priority) || v.left() != 0) return error(ErrorCode::InvalidPacket, p);
    if (priority > param::kMaxPriority) return error(ErrorCode::InvalidParameter, p);
    Outcome o = ack();
    o.displayChanged = priority != priority_;
    priority_ = priority;
    return o;
}

std::vector<uint8_t> Session::keyPacket(uint64_t code) const {
    if (!tty_ || !keys_.accepts(code)) return {};
    return encodePacket(pkt::kKey, u32Body({static_cast<uint32_t>(code >> 32), static_cast<uint32_t>(code)}));
}

std::vector<std::vector<uint8_t>> Session::updates(const DisplayFacts& before, const DisplayFacts& after) const {
    std::vector<std::vector<uint8_t>> out;
    uint32_t last = ~0u;
    for (uint32_t param : watched_) {
        if (param == last) continue;
        last = param;
        std::vector<uint8_t> a, b;
        if (!paramValue(param, 0, before, a) || !paramValue(param, 0, after, b) || a == b) continue;
        out.push_back(encodePacket(pkt::kParamUpdate, encodeParamValue(0, param, 0, b)));
    }
    return out;
}

}  // namespace tavik::brl
