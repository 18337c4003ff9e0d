// State snapshot text and atomic file writing of the virtual display.
#include "state_file.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fcntl.h>
#include <sstream>
#include <unistd.h>

namespace padsim {

namespace {

void grid(std::string& s, std::string_view name, const std::vector<uint8_t>& dots, int w, int h) {
    s += name;
    s += '\n';
    if (w <= 0 || h <= 0) return;
    const size_t cols = static_cast<size_t>(w), rows = static_cast<size_t>(h);
    const size_t at = s.size();
    s.resize(at + (cols + 1) * rows);
    char* out = s.data() + at;
    const uint8_t* in = dots.data();
    const size_t n = dots.size();
    for (size_t y = 0; y < rows; ++y) {
        for (size_t x = 0; x < cols; ++x) {
            const size_t i = y * cols + x;
            *out++ = i < n && in[i] ? '#' : '.';
        }
        *out++ = '\n';
    }
}

// Two lower-case hex digits per byte of bytes[from, from + count), clipped to the vector.
std::string hexAll(const std::vector<uint8_t>& bytes, size_t from, size_t count) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string s;
    if (from >= bytes.size()) return s;
    const size_t end = from + std::min(count, bytes.size() - from);
    s.resize(2 * (end - from));
    char* out = s.data();
    const uint8_t* in = bytes.data();
    for (size_t i = from; i < end; ++i) {
        *out++ = kDigits[in[i] >> 4];
        *out++ = kDigits[in[i] & 15];
    }
    return s;
}

const char* viewName(View v) {
    switch (v) {
    case View::Planes: return "planes";
    case View::MultiLevel: return "multilevel";
    case View::Braille: return "braille";
    }
    return "?";
}

}  // namespace

std::string stateText(const DeviceModel& model) {
    const auto& c = model.config();
    const auto& st = model.state();
    std::string s;
    char line[160];
    auto kv = [&](const char* key, unsigned long long v) {
        std::snprintf(line, sizeof line, "%s %llu\n", key, v);
        s += line;
    };
    s += std::string(kStateMagic) + "\n";
    s += "model " + c.model + "\n";
    std::snprintf(line, sizeof line, " %dx%d\n", c.width, c.height);
    s += std::string(kStateSize) + line;
    kv("text_cells", static_cast<unsigned>(c.textCells));
    kv("multilevel", c.info[2] >= 2 ? 1 : 0);
    kv("notetaker_cells", static_cast<unsigned>(c.noteTakerCells));
    kv("frames_received", st.framesReceived);
    kv("frames_sent", st.framesSent);
    kv("identifications", st.identifications);
    kv("errors", st.errors);
    kv("junk_bytes", st.junkBytes);
    kv("commands", st.commands);
    std::snprintf(line, sizeof line, "last_command %02x\n", st.lastCommand);
    s += line;
    s += std::string("view ") + viewName(st.view) + "\n";
    kv("plane2_level", st.plane2Level);
    kv("multilevel_format", static_cast<unsigned>(st.multiLevelFormat));
    kv("notetaker_mode", st.noteTakerModeSet ? 1 : 0);
    kv("notetaker_ended", st.noteTakerEnded ? 1 : 0);
    s += "text " + hexAll(st.text, 0, st.text.size()) + "\n";
    const size_t cells = st.braille.size() / 2;
    s += "braille1 " + hexAll(st.braille, 0, cells) + "\n";
    s += "braille2 " + hexAll(st.braille, cells, cells) + "\n";
    grid(s, kGridPlane1, st.plane1, c.width, c.height);
    grid(s, kGridPlane2, st.plane2, c.width, c.height);
    s += std::string(kGridLevels) + "\n";
    for (int y = 0; y < c.height; ++y) {
        s += hexAll(st.levels, static_cast<size_t>(y * c.width), static_cast<size_t>(c.width));
        s += '\n';
    }
    return s;
}

StateReader::StateReader(std::string text) {
    std::istringstream in(std::move(text));
    for (std::string line; std::getline(in, line);) lines_.push_back(std::move(line));
}

std::string StateReader::value(std::string_view key) const {
    for (const auto& l : lines_)
        if (l.size() > key.size() && l.compare(0, key.size(), key) == 0 && l[key.size()] == ' ')
            return l.substr(key.size() + 1);
    return {};
}

std::vector<std::string> StateReader::grid(std::string_view name) const {
    const std::string size = value(kStateSize);
    const size_t x = size.find('x');
    if (x == std::string::npos) return {};
    int width = 0, height = 0;
    const char* end = size.data() + size.size();
    const auto w = std::from_chars(size.data(), size.data() + x, width);
    const auto h = std::from_chars(size.data() + x + 1, end, height);
    if (w.ec != std::errc() || h.ec != std::errc() || h.ptr != end || width <= 0 || height <= 0) return {};
    // Pins are one character each, levels two hex digits.
    const size_t rowLength = static_cast<size_t>(width) * (name == kGridLevels ? 2 : 1);
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i] != name) continue;
        if (lines_.size() - i - 1 < static_cast<size_t>(height)) return {};
        std::vector<std::string> rows(lines_.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                      lines_.begin() + static_cast<std::ptrdiff_t>(i) + 1 + height);
        for (const auto& r : rows)
            if (r.size() != rowLength) return {};
        return rows;
    }
    return {};
}

bool writeFileAtomically(const std::string& path, const std::string& text) {
    const std::string tmp = path + ".tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) {
            ::close(fd);
            ::unlink(tmp.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0 || ::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

}  // namespace padsim
