// Receive parser state machine and the reaction tables of the device variants.
#include "frame_parser.h"

namespace tavik::proto {

void FrameParser::reset() {
    state_ = State::Header;
    command_ = 0;
    parameter_ = 0;
    announced_ = 0;
    expected_ = 0;
    pos_ = 0;
}

FrameParser::Step FrameParser::step(std::optional<uint8_t> byte, uint64_t nowMs) {
    const bool silent = seenByte_ && nowMs >= lastByteMs_ && nowMs - lastByteMs_ >= kIdleResetMs;
    if (!byte) {
        if (silent) reset();
        return Step::Idle;
    }
    if (silent) reset();
    seenByte_ = true;
    lastByteMs_ = nowMs;
    const uint8_t b = *byte;

    switch (state_) {
    case State::Header:
        header_[pos_++] = b;
        if (pos_ <= 2) {
            if (b != kFrameMarker) {
                const std::span<const uint8_t> stray(header_.data(), pos_);
                reset();
                sink_.onStray(stray);
            }
            return Step::Partial;
        }
        if (pos_ == 3 && (b == 0x00 || b == 0x02)) {
            state_ = State::Skipping;
            expected_ = kBadHeaderSkip;
            pos_ = 0;
            return Step::Partial;
        }
        if (pos_ < kFrameHeaderSize) return Step::Partial;
        command_ = header_[2];
        parameter_ = header_[3];
        announced_ = static_cast<uint16_t>(header_[4] | (header_[5] << 8));
        pos_ = 0;
        enterPayload();
        if (state_ == State::Payload && expected_ == 0) return dispatch();
        if (state_ == State::Skipping && expected_ == 0) reset();
        return Step::Partial;

    case State::Payload:
        if (pos_ < kParserStoreCap) buffer_[pos_] = b;
        ++pos_;
        if (pos_ >= expected_ || (command_ == device::kCmd43 && b == 0x00)) return dispatch();
        return Step::Partial;

    case State::Skipping:
        ++pos_;
        if (pos_ >= expected_) reset();
        return Step::Partial;
    }
    return Step::Partial;
}

size_t FrameParser::feed(std::span<const uint8_t> bytes, uint64_t nowMs) {
    size_t frames = 0;
    for (uint8_t b : bytes)
        if (step(b, nowMs) == Step::Complete) ++frames;
    return frames;
}

// Applies the payload length rule of the current command.
void FrameParser::enterPayload() {
    bool ok = true;
    switch (command_) {
    case device::kCmd41: ok = announced_ == kLen41; break;
    case device::kCmd49: ok = announced_ == kLen49; break;
    case device::kCmd48: ok = announced_ == kLen48; break;
    case device::kCmd4A: ok = announced_ == kLen4A; break;
    case device::kCmd43: ok = announced_ <= kMaxLen43; break;
    default: break;
    }
    state_ = ok ? State::Payload : State::Skipping;
    expected_ = announced_;
}

FrameParser::Step FrameParser::dispatch() {
    const size_t stored = pos_ < kParserStoreCap ? pos_ : kParserStoreCap;
    buffer_[stored] = 0x00;
    ParsedFrame frame;
    frame.command = command_;
    frame.parameter = parameter_;
    frame.announcedLength = announced_;
    frame.receivedLength = pos_;
    frame.payload = std::span<const uint8_t>(buffer_.data(), stored);
    reset();
    sink_.onFrame(frame);
    return Step::Complete;
}

// ---- Reaction tables ------------------------------------------------------------------

namespace {

constexpr ReactionTable makeBareAnswers() {
    ReactionTable t{};
    t[device::kIdentify].replyBytes = static_cast<uint8_t>(kIdentReplySize);
    for (uint8_t c : {device::kCmd11, device::kCmd20, device::kCmd40, device::kCmd41, device::kCmd43,
                      device::kCmd48, device::kCmd4A})
        t[c].replyBytes = 1;
    t[device::kCmd21].replyBytes = 2;
    return t;
}

constexpr ReactionTable makeTactile() {
    ReactionTable t = makeBareAnswers();
    t[device::kKey].event = DeviceEvent::Key;
    t[device::kDataBlock].event = DeviceEvent::DataBlock;
    t[device::kBroadcast].event = DeviceEvent::Broadcast;
    return t;
}

constexpr ReactionTable makeNoteTaker() {
    ReactionTable t = makeBareAnswers();
    t[device::kNoteTakerKey].event = DeviceEvent::Key;
    return t;
}

}  // namespace

const ReactionTable kTactileReactions = makeTactile();
const ReactionTable kNoteTakerReactions = makeNoteTaker();

DeviceFrameReaction reactionFor(uint8_t command) { return kTactileReactions[command]; }

}  // namespace tavik::proto
