// The server's settings: the command line over TAVIK.ini's [BrlAPI] section
// over the defaults.
//
//   [BrlAPI]
//   Port=0                      port index of the display (as the other programs)
//   Model=QX-64X48              device model to enter the port with
//   Host=:0                     where clients find the server
//   Table=en-us-comp8-ext.utb   computer braille table (default: from the locale)
//   Destination=TextLine        TextLine or Pins
//   KeyFile=...                 key clients of a TCP endpoint must show
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavik::brl {

// Where the braille goes: the text line, cells on the pin field, or (on a
// display without a text line, after the switch chord) nowhere, leaving the
// pins to the application in front.
enum class Destination { TextLine, Pins, Hidden };

struct Options {
    int port = 0;
    std::string model = "QX-64X48";
    std::string host;  // empty: BRLAPI_HOST, else ":0"
    std::string table;  // empty: from the locale
    Destination destination = Destination::TextLine;
    std::string keyFile;  // empty: $XDG_RUNTIME_DIR/tavik-brlapi.key
    std::string socketFolder;  // empty: the shared socket folder
    bool ifConfigured = false;  // end quietly unless TAVIK.ini has a [BrlAPI] Port
    bool configured = false;    // TAVIK.ini names the port
    bool help = false, version = false;
};

// Reads `iniPath`'s [BrlAPI] section into `o` (keys that are missing keep `o`'s values).
void readIni(Options& o, const std::string& iniPath);
// Applies the command line; false with `error` for a bad option.
bool parseCommandLine(Options& o, const std::vector<std::string_view>& args, std::string& error);
std::optional<Destination> parseDestination(std::string_view s);
std::string usage();

}  // namespace tavik::brl
