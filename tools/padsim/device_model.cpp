// Frame handling and event frames of the virtual tactile display.
#include "device_model.h"

#include <algorithm>
#include <cstdio>

#include "frame.h"
#include "identification.h"
#include "planes.h"
#include "protocol_constants.h"
#include "rle.h"

namespace padsim {

namespace proto = tavik::proto;

std::string hexBytes(std::span<const uint8_t> bytes, size_t max) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < bytes.size() && i < max; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02x" : "%02x", bytes[i]);
        s += buf;
    }
    if (bytes.size() > max) s += " ...";
    return s;
}

namespace {

std::string format(const char* fmt, auto... args) {
    char buf[256];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

}  // namespace

DeviceModel::DeviceModel(DeviceConfig config) : config_(std::move(config)) {
    const size_t dots = static_cast<size_t>(config_.width) * static_cast<size_t>(config_.height);
    state_.plane1.assign(dots, 0);
    state_.plane2.assign(dots, 0);
    state_.levels.assign(dots, 0);
    state_.text.assign(static_cast<size_t>(config_.textCells), 0);
    state_.braille.assign(static_cast<size_t>(2 * std::max(config_.noteTakerCells, 0)), 0);
    if (config_.noteTaker()) state_.view = View::Braille;
}

std::array<uint8_t, 32> DeviceModel::identReply() const {
    return proto::buildIdentReply(std::span<const uint8_t, 8>(config_.info), config_.model);
}

FrameOutcome DeviceModel::handle(const HostFrame& f) {
    ++state_.framesReceived;
    state_.lastCommand = f.command;
    FrameOutcome out;
    switch (f.command) {
    case proto::host::kIdentify:
        ++state_.identifications;
        {
            const auto r = identReply();
            out.reply.assign(r.begin(), r.end());
        }
        out.log = format("identify: answered 32 bytes, model \"%s\"", config_.model.c_str());
        break;
    case proto::host::kText: out = handleText(f); break;
    case proto::host::kPlaneRaw: out = handlePlane(f, false); break;
    case proto::host::kPlaneRle: out = handlePlane(f, true); break;
    case proto::host::kMultiLevel: out = handleMultiLevel(f); break;
    case proto::host::kBrailleGraphic: out = handleBraille(f); break;
    case proto::host::kNoteTakerMode:
        state_.noteTakerModeSet = true;
        state_.noteTakerEnded = false;
        out.log = "note-taker mode: " + hexBytes(f.payload);
        break;
    case proto::host::kNoteTakerEnd:
        state_.noteTakerEnded = true;
        out.log = "note-taker end";
        break;
    case proto::host::kV2Ccb: out.log = format("direct command a0 slot %u: %zu bytes", f.parameter, f.payload.size()); break;
    default: out.log = "unknown frame: " + hexBytes(f.payload); break;
    }
    if (f.command != proto::host::kIdentify) {
        if (auto it = config_.answers.find(f.command); it != config_.answers.end()) out.reply = it->second;
    }
    if (out.error) ++state_.errors;
    std::string prefix = format("rx %02x param %u len %zu: ", f.command, f.parameter, f.payload.size());
    out.log = prefix + (out.error ? "ERROR " : "") + out.log;
    if (!out.reply.empty()) out.log += " [answer " + hexBytes(out.reply, 4) + "]";
    return out;
}

FrameOutcome DeviceModel::handleText(const HostFrame& f) {
    FrameOutcome out;
    const size_t cells = state_.text.size();
    std::fill(state_.text.begin(), state_.text.end(), 0);
    std::copy_n(f.payload.begin(), std::min(cells, f.payload.size()), state_.text.begin());
    out.displayChanged = true;
    out.log = "text: " + hexBytes(f.payload, 8);
    if (f.payload.size() > cells) out.log += format(" (%zu bytes beyond %zu cells dropped)", f.payload.size() - cells, cells);
    return out;
}

FrameOutcome DeviceModel::handlePlane(const HostFrame& f, bool compressed) {
    FrameOutcome out;
    const int w = config_.width, h = config_.height;
    const size_t size = proto::planeSize(w, h);
    std::vector<uint8_t> packed(size, 0);
    if (compressed) {
        size_t produced = 0;
        if (!proto::rleDecode(f.payload, packed, produced)) {
            out.error = true;
            out.log = format("bad run-length data (%zu of %zu bytes decoded); plane unchanged", produced, size);
            return out;
        }
        if (produced != size) {
            out.error = true;
            out.log = format("plane decodes to %zu bytes, expected %zu; plane unchanged", produced, size);
            return out;
        }
    } else {
        if (f.payload.size() != size) {
            out.error = true;
            out.log = format("plane of %zu bytes, expected %zu; plane unchanged", f.payload.size(), size);
            return out;
        }
        std::copy(f.payload.begin(), f.payload.end(), packed.begin());
    }
    auto& target = f.parameter == 0 ? state_.plane1 : state_.plane2;
    proto::unpackPlane(packed, w, h, target);
    if (f.parameter != 0) state_.plane2Level = f.parameter;
    state_.view = View::Planes;
    out.displayChanged = true;
    const size_t raised = static_cast<size_t>(std::count(target.begin(), target.end(), 1));
    out.log = format("%s plane %d%s: %zu dots raised", compressed ? "compressed" : "plain", f.parameter == 0 ? 1 : 2,
                     f.parameter == 0 ? "" : format(" level %u", f.parameter).c_str(), raised);
    return out;
}

FrameOutcome DeviceModel::handleMultiLevel(const HostFrame& f) {
    FrameOutcome out;
    if (f.payload.size() < proto::kMultiLevelHeaderSize) {
        out.error = true;
        out.log = "multi-level frame shorter than its 8-byte header";
        return out;
    }
    const auto p = f.payload;
    if (p[0] == proto::kMultiLevelClear) {
        std::fill(state_.levels.begin(), state_.levels.end(), 0);
        state_.multiLevelFormat = p[1];
        state_.view = View::MultiLevel;
        out.displayChanged = true;
        out.log = format("multi-level clear (slot %u)", f.parameter);
        return out;
    }
    if (p[0] != proto::kMultiLevelData) {
        out.error = true;
        out.log = format("multi-level header byte 0 is %02x, not 23 or 02", p[0]);
        return out;
    }
    const int fmt = p[1], w = p[6], h = p[7];
    const size_t size = proto::multiLevelPackedSize(w, h, fmt);
    if (size == 0 || p.size() - proto::kMultiLevelHeaderSize != size) {
        out.error = true;
        out.log = format("multi-level format %d %dx%d needs %zu data bytes, got %zu", fmt, w, h, size,
                         p.size() - proto::kMultiLevelHeaderSize);
        return out;
    }
    std::vector<uint8_t> dots(static_cast<size_t>(w) * static_cast<size_t>(h));
    proto::unpackMultiLevel(p.subspan(proto::kMultiLevelHeaderSize), w, h, fmt, dots);
    std::fill(state_.levels.begin(), state_.levels.end(), 0);
    for (int y = 0; y < std::min(h, config_.height); ++y)
        for (int x = 0; x < std::min(w, config_.width); ++x)
            state_.levels[static_cast<size_t>(y * config_.width + x)] = dots[static_cast<size_t>(y * w + x)];
    state_.multiLevelFormat = fmt;
    state_.view = View::MultiLevel;
    out.displayChanged = true;
    out.log = format("multi-level slot %u format %d %dx%d", f.parameter, fmt, w, h);
    if (w != config_.width || h != config_.height)
        out.log += format(" (device is %dx%d: clipped)", config_.width, config_.height);
    return out;
}

FrameOutcome DeviceModel::handleBraille(const HostFrame& f) {
    FrameOutcome out;
    if (f.payload.empty() || f.payload.size() % 2 != 0) {
        out.error = true;
        out.log = "braille graphic payload must be two planes of equal size";
        return out;
    }
    state_.braille.assign(f.payload.begin(), f.payload.end());
    state_.view = View::Braille;
    out.displayChanged = true;
    out.log = format("braille graphic: %zu cells per plane", f.payload.size() / 2);
    if (config_.noteTaker() && f.payload.size() / 2 != static_cast<size_t>(config_.noteTakerCells))
        out.log += format(" (device has %d)", config_.noteTakerCells);
    return out;
}

std::vector<uint8_t> DeviceModel::frame(uint8_t command, uint8_t parameter, std::span<const uint8_t> payload) {
    const size_t n = std::min(payload.size(), proto::kMaxFramePayload);
    const auto h = proto::frameHeader(command, parameter, static_cast<uint16_t>(n));
    std::vector<uint8_t> out(h.size() + n);
    std::copy(h.begin(), h.end(), out.begin());
    std::copy_n(payload.begin(), n, out.begin() + static_cast<std::ptrdiff_t>(h.size()));
    return out;
}

std::vector<uint8_t> DeviceModel::keyFrame(std::span<const uint8_t> bytes) const {
    return config_.noteTaker() ? noteTakerKeyFrame(bytes) : frame(proto::device::kKey, 0, bytes);
}
std::vector<uint8_t> DeviceModel::noteTakerKeyFrame(std::span<const uint8_t> bytes) {
    return frame(proto::device::kNoteTakerKey, 0, bytes);
}
std::vector<uint8_t> DeviceModel::broadcastFrame(std::span<const uint8_t> bytes) {
    return frame(proto::device::kBroadcast, 0, bytes);
}
std::vector<uint8_t> DeviceModel::dataBlockFrame(uint8_t code, std::span<const uint8_t> bytes) {
    return frame(proto::device::kDataBlock, code, bytes);
}

std::vector<uint8_t> DeviceModel::pinImage(int& width, int& height) const {
    if (state_.view == View::Braille) {
        const int cells = static_cast<int>(state_.braille.size() / 2);
        width = std::max(2 * cells, 2);
        height = 4;
        std::vector<uint8_t> img(static_cast<size_t>(width * height), 0);
        for (int c = 0; c < cells; ++c)
            for (int r = 0; r < 4; ++r)
                for (int side = 0; side < 2; ++side) {
                    const uint8_t bit = static_cast<uint8_t>((side == 0 ? 0x80 : 0x08) >> r);
                    uint8_t v = 0;
                    if (state_.braille[static_cast<size_t>(cells + c)] & bit)
                        v = 2;
                    else if (state_.braille[static_cast<size_t>(c)] & bit)
                        v = 1;
                    img[static_cast<size_t>(r * width + 2 * c + side)] = v;
                }
        return img;
    }
    width = config_.width;
    height = config_.height;
    if (state_.view == View::MultiLevel) return state_.levels;
    std::vector<uint8_t> img(state_.plane1.size(), 0);
    for (size_t i = 0; i < img.size(); ++i) img[i] = state_.plane2[i] ? 2 : (state_.plane1[i] ? 1 : 0);
    return img;
}

}  // namespace padsim
