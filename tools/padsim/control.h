// Commands that drive the virtual display from a script, standard input or a
// control FIFO: one command per line, '#' starts a comment.
//
//   key G K M [X]            key event (0xE1; 0xF0 on a note-taker), payload G K M X
//   ntkey G K M [X]          note-taker key event 0xF0 on any model
//   broadcast B0 B1 B2 B3    broadcast event 0xE4
//   datablock CODE HEX...    data block 0xE2, parameter CODE, payload bytes
//   raw HEX...               any bytes, sent as they are
//   png FILE                 writes the pins as a PNG picture
//   state FILE               writes the state snapshot
//   wait MS                  pauses this command source
//   log TEXT                 writes TEXT to the log (a marker for tests)
//   quit                     ends padsim
// Numbers are decimal or 0x-prefixed hex; HEX... are bytes in hex, spaced or not
// ("01 02 ff" or "0102ff").
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace padsim {

enum class CommandKind { Key, NoteTakerKey, Broadcast, DataBlock, Raw, Png, State, Wait, Log, Quit };

struct ControlCommand {
    CommandKind kind = CommandKind::Quit;
    std::vector<uint8_t> bytes;  // event payload or raw bytes
    uint8_t code = 0;            // data block code
    std::string text;            // file path or log text
    uint64_t ms = 0;             // wait
};

struct ParsedLine {
    std::optional<ControlCommand> command;  // empty for blank lines and comments
    std::string error;                      // set when the line is not a valid command
};

ParsedLine parseControlLine(std::string_view line);

// Parses "12", "0x0c" into a byte; false when not a number in 0..255.
bool parseByte(std::string_view token, uint8_t& out);
// Parses hex byte tokens ("01 02ff"); false on an odd digit count or a non-hex character.
bool parseHexBytes(std::string_view text, std::vector<uint8_t>& out);

}  // namespace padsim
