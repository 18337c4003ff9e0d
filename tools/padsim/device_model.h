// The virtual tactile display's device logic: what it answers to each frame
// from the computer, what it shows (two dot planes, multi-level values, text
// cells, note-taker braille cells) and the event frames it sends. No I/O: the
// program and the tests feed frames in and take replies out.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "host_frame_reader.h"

namespace padsim {

struct DeviceConfig {
    std::string model = "PX-64";                 // name in bytes 8..31 of the identification reply
    std::array<uint8_t, 8> info{};                // bytes 0..7 of the identification reply
    int width = 64;                               // pins
    int height = 48;
    int textCells = 32;
    int noteTakerCells = 0;                       // > 0: behave as a note-taker with this many cells
    // Bare answers to frames other than identification, by command (empty = none).
    std::map<uint8_t, std::vector<uint8_t>> answers = {{0xA2, {0x00}}, {0xA0, {0x00}}};

    // Sets byte 2 (multi-level flag) of `info`.
    void setMultiLevel(bool on) { info[2] = on ? 2 : 0; }
    // Note-taker mode: byte 5 of `info` and the cell count used for the graphic view.
    void setNoteTakerCells(int cells) {
        noteTakerCells = cells;
        info[5] = static_cast<uint8_t>(cells);
    }
    bool noteTaker() const { return noteTakerCells > 0; }
};

// Which picture the pins show: the last graphic frame decides.
enum class View { Planes, MultiLevel, Braille };

struct DeviceState {
    std::vector<uint8_t> plane1;  // W x H, 1 = raised (plane 1)
    std::vector<uint8_t> plane2;  // W x H, 1 = raised (plane 2)
    uint8_t plane2Level = 0;      // parameter of the last plane-2 frame
    std::vector<uint8_t> levels;  // W x H dot values of the last multi-level frame
    int multiLevelFormat = 0;
    std::vector<uint8_t> text;     // textCells bytes
    std::vector<uint8_t> braille;  // note-taker graphic: plane-1 cells then plane-2 cells
    View view = View::Planes;
    bool noteTakerModeSet = false;  // 0x20 received
    bool noteTakerEnded = false;    // 0x28 received
    uint64_t framesReceived = 0;
    uint64_t framesSent = 0;        // event frames sent by us
    uint64_t identifications = 0;
    uint64_t errors = 0;            // frames that could not be decoded
    uint64_t junkBytes = 0;         // bytes outside frames
    uint64_t commands = 0;          // control commands executed
    uint8_t lastCommand = 0;
};

// Result of one frame from the computer.
struct FrameOutcome {
    std::vector<uint8_t> reply;  // bare bytes to write back
    bool displayChanged = false;
    bool error = false;
    std::string log;             // one line describing the frame
};

class DeviceModel {
public:
    explicit DeviceModel(DeviceConfig config);

    const DeviceConfig& config() const { return config_; }
    const DeviceState& state() const { return state_; }
    DeviceState& mutableState() { return state_; }

    // The 32-byte identification reply.
    std::array<uint8_t, 32> identReply() const;

    // Handles one complete frame from the computer.
    FrameOutcome handle(const HostFrame& frame);

    // Notes bytes that arrived outside any frame.
    void noteJunk(size_t n) { state_.junkBytes += n; }

    // Event frames the device sends (also counted in framesSent by the caller).
    std::vector<uint8_t> keyFrame(std::span<const uint8_t> bytes) const;  // 0xE1, or 0xF0 on a note-taker
    static std::vector<uint8_t> noteTakerKeyFrame(std::span<const uint8_t> bytes);  // 0xF0
    static std::vector<uint8_t> broadcastFrame(std::span<const uint8_t> bytes);     // 0xE4
    static std::vector<uint8_t> dataBlockFrame(uint8_t code, std::span<const uint8_t> bytes);  // 0xE2
    static std::vector<uint8_t> frame(uint8_t command, uint8_t parameter, std::span<const uint8_t> payload);

    // The pins as shown now, one byte per dot: 0 down, 1 plane 1 / level 1,
    // >= 2 plane 2 or the multi-level value. In the braille view the picture is
    // the note-taker's cells: 2 x cells wide, 4 rows.
    std::vector<uint8_t> pinImage(int& width, int& height) const;

private:
    FrameOutcome handleText(const HostFrame& f);
    FrameOutcome handlePlane(const HostFrame& f, bool compressed);
    FrameOutcome handleMultiLevel(const HostFrame& f);
    FrameOutcome handleBraille(const HostFrame& f);

    DeviceConfig config_;
    DeviceState state_;
};

// "93 0a 05 00" style hex of a few bytes, for logs.
std::string hexBytes(std::span<const uint8_t> bytes, size_t max = 16);

}  // namespace padsim
