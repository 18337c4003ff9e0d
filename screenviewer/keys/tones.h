// Tone sequences of the display (models 1 and 4) as the bytes of direct
// command 230: parameter = number of entries, six data bytes per entry
// (frequency and duration big-endian 16-bit, the flag byte, a zero byte).
//
// Core use: for a PlayTone action, when ctx.tonesAllowed(), build the
// command with toneCommand(toneSequence(tone), cmd) and, only when
// gdStartDirectOperation succeeds, gdPostDirectCommand(230, cmd.parameter,
// cmd.bytes()), then gdEndDirectOperation.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "screenviewer/keys/key_actions.h"

namespace tavik::lumo {

struct ToneEntry {
    uint16_t frequency;  // Hz, 0 ends the sequence
    uint16_t duration;
    uint8_t flag;
};

constexpr int kToneCommand = 230;
constexpr size_t kMaxToneEntries = 32;

struct ToneCommand {
    int command = kToneCommand;
    int parameter = 0;  // number of entries
    std::array<uint8_t, kMaxToneEntries * 6> data{};
    size_t size = 0;
    std::span<const uint8_t> bytes() const { return {data.data(), size}; }
};

// Chime A, chime B and the lock signal, each with its closing (0, 0, 0) entry.
std::span<const ToneEntry> toneSequence(Tone tone);
// False (nothing to send) for 0 or more than 32 entries.
bool toneCommand(std::span<const ToneEntry> entries, ToneCommand& out);

}  // namespace tavik::lumo
