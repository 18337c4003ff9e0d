// Frame reader of the virtual display (computer-to-device direction).
#include "host_frame_reader.h"

#include <utility>

namespace padsim {

HostFrameReader::HostFrameReader(FrameFn onFrame, JunkFn onJunk)
    : onFrame_(std::move(onFrame)), onJunk_(std::move(onJunk)) {
    payload_.reserve(0x10000);
}

void HostFrameReader::feed(std::span<const uint8_t> bytes, uint64_t nowMs) {
    if (!bytes.empty()) {
        poll(nowMs);
        lastMs_ = nowMs;
    }
    for (uint8_t b : bytes) take(b);
}

void HostFrameReader::poll(uint64_t nowMs) {
    if (headerPos_ > 0 && nowMs >= lastMs_ && nowMs - lastMs_ >= 1000) dropPartial();
}

void HostFrameReader::dropPartial() {
    std::vector<uint8_t> junk(header_, header_ + (headerPos_ < 6 ? headerPos_ : 6));
    junk.insert(junk.end(), payload_.begin(), payload_.end());
    headerPos_ = 0;
    payload_.clear();
    onJunk_(junk);
}

void HostFrameReader::take(uint8_t b) {
    if (headerPos_ < 6) {
        if (headerPos_ < 2 && b != 0xFF) {
            const uint8_t junk[2] = {0xFF, b};
            onJunk_(std::span<const uint8_t>(junk + (headerPos_ == 0 ? 1 : 0), headerPos_ == 0 ? 1 : 2));
            headerPos_ = 0;
            return;
        }
        if (headerPos_ == 2 && b == 0xFF) {  // FF FF FF: the first marker was junk
            const uint8_t junk[1] = {0xFF};
            onJunk_(junk);
            return;
        }
        header_[headerPos_++] = b;
        if (headerPos_ < 6) return;
        expected_ = static_cast<size_t>(header_[4]) | (static_cast<size_t>(header_[5]) << 8);
        payload_.clear();
    } else {
        payload_.push_back(b);
    }
    if (payload_.size() == expected_) {
        HostFrame f{header_[2], header_[3], std::span<const uint8_t>(payload_)};
        headerPos_ = 0;
        onFrame_(f);
        payload_.clear();
    }
}

}  // namespace padsim
