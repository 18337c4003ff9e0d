// Command line and settings of the braille server.
#include "brlapi/options.h"

#include <charconv>
#include <strings.h>

#include "common/ini_store.h"

namespace tavik::brl {

namespace {

bool parseInt(std::string_view s, int lo, int hi, int& out) {
    int v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || v < lo || v > hi) return false;
    out = v;
    return true;
}

bool same(std::string_view a, std::string_view b) {
    return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

std::optional<Destination> parseDestination(std::string_view s) {
    if (same(s, "TextLine") || same(s, "text")) return Destination::TextLine;
    if (same(s, "Pins") || same(s, "pins")) return Destination::Pins;
    return std::nullopt;
}

void readIni(Options& o, const std::string& iniPath) {
    o.port = profileGetInt("BrlAPI", "Port", o.port, iniPath);
    o.configured = profileGetInt("BrlAPI", "Port", -1, iniPath) >= 0;
    o.model = profileGetString("BrlAPI", "Model", o.model, iniPath);
    o.host = profileGetString("BrlAPI", "Host", o.host, iniPath);
    o.table = profileGetString("BrlAPI", "Table", o.table, iniPath);
    o.keyFile = profileGetString("BrlAPI", "KeyFile", o.keyFile, iniPath);
    if (auto d = parseDestination(profileGetString("BrlAPI", "Destination", "", iniPath))) o.destination = *d;
}

bool parseCommandLine(Options& o, const std::vector<std::string_view>& args, std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view a = args[i];
        if (a == "-h" || a == "--help") {
            o.help = true;
            continue;
        }
        if (a == "--version") {
            o.version = true;
            continue;
        }
        if (a == "--if-configured") {
            o.ifConfigured = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            error = "unknown option or missing value: " + std::string(a);
            return false;
        }
        const std::string_view v = args[++i];
        if (a == "--port") {
            if (!parseInt(v, 0, 79, o.port)) return error = "--port takes 0..79", false;
        } else if (a == "--model") {
            o.model = v;
        } else if (a == "--host") {
            o.host = v;
        } else if (a == "--table") {
            o.table = v;
        } else if (a == "--destination") {
            auto d = parseDestination(v);
            if (!d) return error = "--destination takes text or pins", false;
            o.destination = *d;
        } else if (a == "--key-file") {
            o.keyFile = v;
        } else if (a == "--socket-folder") {
            o.socketFolder = v;
        } else {
            error = "unknown option: " + std::string(a);
            return false;
        }
    }
    return true;
}

std::string usage() {
    return R"(Usage: tavik-brlapi [OPTION]...
Serves the tactile display to screen readers (Orca, BRLTTY's clients) as a
braille display: their braille appears on the display's text line (or as
braille cells on the pins) and the display's keys reach them as braille
commands.

Options (each overrides the same key of TAVIK.ini's [BrlAPI] section):
  --port N               port index of the display, 0..79 (Port, default 0)
  --model NAME           device model (Model, default QX-64X48)
  --host HOST            where clients find the server (Host; default
                         BRLAPI_HOST, else ":0"): ":N" the local socket
                         /var/lib/BrlAPI/N, "127.0.0.1:N" TCP port 4101+N on
                         loopback. A taken endpoint makes it try the next N.
  --table TABLE          liblouis computer braille table (Table; default by
                         the locale, e.g. en-us-comp8-ext.utb)
  --destination WHERE    text (the text line) or pins (cells on the pin field)
                         (Destination, default text)
  --key-file FILE        key a TCP client must show (KeyFile; default
                         $XDG_RUNTIME_DIR/tavik-brlapi.key, made when missing)
  --socket-folder DIR    folder of local sockets (default /var/lib/BrlAPI)
  --if-configured        end at once (status 0) unless TAVIK.ini's [BrlAPI]
                         section names the Port: how the session starts it
  -h, --help             this text
  --version              the suite's version

One server runs per user (a second one says so and ends). On start it prints "listening HOST" and, for a TCP endpoint, the key file:
set BRLAPI_HOST (and BRLAPI_AUTH=keyfile:FILE) for the session when they are
not the defaults. Keys: see tavik-brlapi(1).
)";
}

}  // namespace tavik::brl
