// Text snapshot of the virtual display for tests and scripts, written
// atomically (temporary file + rename) so a reader never sees half a file.
//
// Format (one "key value" per line, then the grids):
//   padsim-state 1
//   model PX-64 / size 64x48 / text_cells 32 / multilevel 0|1 / notetaker_cells N
//   frames_received N / frames_sent N / identifications N / errors N / junk_bytes N / commands N
//   last_command 93 / view planes|multilevel|braille / plane2_level N / multilevel_format F
//   notetaker_mode 0|1 / notetaker_ended 0|1
//   text <hex of every text cell>
//   braille1 <hex> / braille2 <hex>            (note-taker cells of each plane)
//   plane1            then H rows of W chars, '#' raised, '.' down
//   plane2            the same
//   levels            H rows of W two-digit hex values (multi-level frame)
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "device_model.h"

namespace padsim {

// The format's names, shared by the writer and the reader below.
inline constexpr std::string_view kStateMagic = "padsim-state 1";
inline constexpr std::string_view kStateSize = "size";
inline constexpr std::string_view kGridPlane1 = "plane1";
inline constexpr std::string_view kGridPlane2 = "plane2";
inline constexpr std::string_view kGridLevels = "levels";

std::string stateText(const DeviceModel& model);

// Reads a state text back (scripts' and tests' side of the format). Never
// fails: what the text lacks reads as empty.
class StateReader {
public:
    explicit StateReader(std::string text);
    // The value of a "key value" line; "" when there is none.
    std::string value(std::string_view key) const;
    // The H rows of a grid ("plane1", "plane2": W characters '#' and '.';
    // "levels": two hex digits a pin), W x H taken from the size line; empty
    // when the grid or the size line is missing or a row is cut short.
    std::vector<std::string> grid(std::string_view name) const;

private:
    std::vector<std::string> lines_;
};

// Writes `text` to `path` through "<path>.tmp" and rename. False on failure
// (errno tells why); the old file then stays as it was.
bool writeFileAtomically(const std::string& path, const std::string& text);

}  // namespace padsim
