// Tone sequences (see tones.h).
#include "screenviewer/keys/tones.h"

namespace tavik::lumo {

namespace {
constexpr ToneEntry kChimeA[] = {{330, 16, 0}, {440, 22, 0}, {660, 33, 0}, {0, 0, 0}};
constexpr ToneEntry kChimeB[] = {{660, 33, 0}, {440, 22, 0}, {330, 16, 0}, {0, 0, 0}};
constexpr ToneEntry kLockSignal[] = {{660, 66, 0}, {660, 66, 1}, {660, 66, 0},
                                     {660, 66, 1}, {660, 66, 0}, {0, 0, 0}};
}  // namespace

std::span<const ToneEntry> toneSequence(Tone tone) {
    switch (tone) {
    case Tone::ChimeA: return kChimeA;
    case Tone::ChimeB: return kChimeB;
    case Tone::LockSignal: return kLockSignal;
    }
    return {};
}

bool toneCommand(std::span<const ToneEntry> entries, ToneCommand& out) {
    out = ToneCommand{};
    if (entries.empty() || entries.size() > kMaxToneEntries) return false;
    out.parameter = static_cast<int>(entries.size());
    size_t at = 0;
    for (const ToneEntry& e : entries) {
        out.data[at++] = static_cast<uint8_t>(e.frequency >> 8);
        out.data[at++] = static_cast<uint8_t>(e.frequency & 0xFF);
        out.data[at++] = static_cast<uint8_t>(e.duration >> 8);
        out.data[at++] = static_cast<uint8_t>(e.duration & 0xFF);
        out.data[at++] = e.flag;
        out.data[at++] = 0;
    }
    out.size = at;
    return true;
}

}  // namespace tavik::lumo
