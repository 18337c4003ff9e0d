// Command-line parsing and help text of padsim.
#include "options.h"

#include <charconv>

#include "control.h"
#include "keys.h"

namespace padsim {

namespace {

bool parseInt(const std::string& s, int lo, int hi, int& out) {
    int v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size() || v < lo || v > hi) return false;
    out = v;
    return true;
}

}  // namespace

bool parseOptions(const std::vector<std::string>& args, Options& opt, std::string& error) {
    bool multiLevel = false;
    int noteTakerCells = -1;
    bool haveInfo = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                error = a + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        std::string v;
        if (a == "-h" || a == "--help") {
            opt.help = true;
        } else if (a == "--version") {
            opt.version = true;
        } else if (a == "--quiet" || a == "-q") {
            opt.quiet = true;
        } else if (a == "--multilevel") {
            multiLevel = true;
        } else if (a == "--link") {
            if (!value(opt.link)) return false;
        } else if (a == "--model") {
            if (!value(opt.device.model)) return false;
            if (opt.device.model.size() > 23) {
                error = "--model: at most 23 characters fit in the identification reply";
                return false;
            }
        } else if (a == "--notetaker-cells") {
            if (!value(v)) return false;
            if (!parseInt(v, 1, 128, noteTakerCells)) {
                error = "--notetaker-cells: a number 1..128 (the system takes 16..46 from the reply)";
                return false;
            }
        } else if (a == "--info") {
            if (!value(v)) return false;
            std::vector<uint8_t> bytes;
            if (!parseHexBytes(v, bytes) || bytes.size() != 8) {
                error = "--info: 8 bytes in hex, e.g. 0100020000000000";
                return false;
            }
            std::copy(bytes.begin(), bytes.end(), opt.device.info.begin());
            haveInfo = true;
        } else if (a == "--size") {
            if (!value(v)) return false;
            const size_t x = v.find('x');
            int w = 0, h = 0;
            if (x == std::string::npos || !parseInt(v.substr(0, x), 1, 255, w) || !parseInt(v.substr(x + 1), 1, 255, h)) {
                error = "--size: WIDTHxHEIGHT, each 1..255, e.g. 64x48";
                return false;
            }
            opt.device.width = w;
            opt.device.height = h;
        } else if (a == "--cells") {
            if (!value(v)) return false;
            if (!parseInt(v, 0, 128, opt.device.textCells)) {
                error = "--cells: a number 0..128";
                return false;
            }
        } else if (a == "--answer") {
            if (!value(v)) return false;
            const size_t eq = v.find('=');
            std::vector<uint8_t> cmd, bytes;
            const std::string what = eq == std::string::npos ? "" : v.substr(eq + 1);
            if (eq == std::string::npos || !parseHexBytes(v.substr(0, eq), cmd) || cmd.size() != 1 ||
                (what != "none" && (!parseHexBytes(what, bytes) || bytes.empty()))) {
                error = "--answer: CMD=HEXBYTES or CMD=none, e.g. a0=00 or 55=none";
                return false;
            }
            if (cmd[0] == 0x10) {
                error = "--answer: the identification answer is set with --model, --info, --multilevel, --notetaker-cells";
                return false;
            }
            opt.device.answers[cmd[0]] = bytes;
        } else if (a == "--fd-in" || a == "--fd-out") {
            if (!value(v)) return false;
            if (!parseInt(v, 0, 1 << 20, a == "--fd-in" ? opt.fdIn : opt.fdOut)) {
                error = a + ": a descriptor number";
                return false;
            }
        } else if (a == "--script") {
            if (!value(opt.script)) return false;
        } else if (a == "--control") {
            if (!value(opt.control)) return false;
        } else if (a == "--state") {
            if (!value(opt.stateFile)) return false;
        } else if (a == "--log") {
            if (!value(opt.logFile)) return false;
        } else if (a == "--png") {
            if (!value(opt.pngFile)) return false;
        } else {
            error = "unknown option " + a + " (see --help)";
            return false;
        }
    }
    if ((opt.fdIn >= 0) != (opt.fdOut >= 0)) {
        error = "--fd-in and --fd-out go together";
        return false;
    }
    if (opt.fdIn >= 0 && !opt.link.empty()) {
        error = "--link needs the pseudo-terminal mode (no --fd-in/--fd-out)";
        return false;
    }
    if (!haveInfo || multiLevel) opt.device.setMultiLevel(multiLevel || opt.device.info[2] >= 2);
    if (noteTakerCells > 0) opt.device.setNoteTakerCells(noteTakerCells);
    return true;
}

std::string helpText() {
    return R"(padsim - virtual tactile pin display

Plays the device side of the tactile display's serial protocol on a
pseudo-terminal, so the controller, its driver plug-in and the viewers can run
without hardware. It answers identification, shows what the computer sends
(text cells, dot planes, multi-level pictures, note-taker braille graphics) and
sends key, broadcast and data-block events from the keyboard, a script or a
control FIFO.

Usage: padsim [options]

Connecting the system to it
  padsim prints the pseudo-terminal it serves ("padsim: port /dev/pts/N").
  Use --link for a stable name, then map a port to it in TAVIK.ini
  ($XDG_CONFIG_HOME/Orvane/TAVIK200_J/TAVIK.ini, default ~/.config/...):
      [Ports]
      Com1=/tmp/padsim-tty
  Port index i is "Com{i+1}": port 0 is Com1. The serial plug-in then opens
  the link as that port.

Device
  --model NAME           device name in the identification reply (default PX-64)
  --multilevel           reply byte 2 = 2: the device takes multi-level frames
  --notetaker-cells N    behave as a braille note-taker: reply byte 5 = N
                         (the system uses 16..46), keys are sent as 0xF0
  --info HEX             reply bytes 0..7 as 16 hex digits (full control; a
                         later --multilevel/--notetaker-cells still applies)
  --size WxH             pins (default 64x48)
  --cells N              text cells (default 32)
  --answer CMD=HEX|none  bare answer to frames with command CMD (hex), e.g.
                         --answer a0=none. Defaults: 0xA2 and 0xA0 answer one
                         byte 00; identification answers its 32 bytes; every
                         other frame gets no answer.

Line
  --link PATH            symbolic link to the pseudo-terminal (replaced if it
                         is a link, removed at exit)
  --fd-in N --fd-out N   use these open descriptors instead of a pseudo-terminal

Control and output
  --script FILE          run commands from FILE (see Commands), then keep serving
  --control FIFO         read commands from a named pipe (created if missing)
  --state FILE           rewrite FILE (atomically) after every frame and command:
                         counters, text cells, both planes, levels
  --log FILE             one line per frame received or sent, flushed at once
  --png FILE             rewrite a PNG picture of the pins on every change
  --quiet, -q            no live view and no log on the terminal
  --help, -h             this text
  --version              the version of the suite

  When standard input is a terminal, the pins are drawn live as braille
  (left: every raised pin; right: plane 2 / level 2 and up) and single keys
  send device keys:
)" + keyHelp() + R"(  Otherwise commands are read from standard input, one per line.

Commands (script, standard input, FIFO)
  key G K M [X]          key event: payload G K M X (0xE1; 0xF0 on a note-taker)
  ntkey G K M [X]        note-taker key event 0xF0
  broadcast B0 B1 B2 B3  broadcast event 0xE4
  datablock CODE HEX...  data block 0xE2 with parameter CODE and the bytes
  raw HEX...             any bytes as they are
  png FILE               picture of the pins
  state FILE             state snapshot
  wait MS                pause this source for MS milliseconds
  log TEXT               write TEXT to the log
  quit                   end padsim
  Numbers are decimal or 0x hex; HEX... is bytes in hex ("01 02 ff", "0102ff").

Examples
  padsim --link /tmp/padsim-tty
  padsim --link /tmp/padsim-tty --multilevel --png /tmp/pins.png
  padsim --link /tmp/nt --notetaker-cells 40 --model Notaro
  mkfifo /tmp/pad.ctl; padsim --quiet --link /tmp/padsim-tty \
      --control /tmp/pad.ctl --state /tmp/pad.state --log /tmp/pad.log &
  echo "key 4 1 0" > /tmp/pad.ctl        # press Up
)";
}

}  // namespace padsim
