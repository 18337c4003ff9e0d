// Reading and writing the ".LMC" view-condition file (see view_condition_file.h).
#include "bitmapviewer/view_condition_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace bitora {

namespace {

constexpr size_t kMaxFileBytes = 64 * 1024;  // a real file has at most some 40 short lines

void appendLine(std::string& out, std::string_view name, int32_t value) {
    out.append(name);
    out.append(std::to_string(value));
    out.append("\r\n");
}

// The value after the first `name` that starts a line; nullopt when absent or not a number.
std::optional<int32_t> findValue(std::string_view text, std::string_view name) {
    size_t from = 0;
    while (from <= text.size()) {
        const size_t at = text.find(name, from);
        if (at == std::string_view::npos) return std::nullopt;
        if (at == 0 || text[at - 1] == '\n' || text[at - 1] == '\r') {
            size_t i = at + name.size();
            bool negative = false;
            if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
            if (i >= text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
            int64_t v = 0;
            while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
                v = std::min<int64_t>(v * 10 + (text[i] - '0'), int64_t{INT32_MAX} + 1);
                ++i;
            }
            v = negative ? -v : v;
            return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
        }
        from = at + 1;
    }
    return std::nullopt;
}

void readInto(std::string_view text, std::string_view name, int32_t& field) {
    if (auto v = findValue(text, name)) field = *v;
}

int32_t level(int32_t v) { return std::clamp(v, 0, 255); }

// Base and division of one view against the image.
void correctView(int32_t& baseX, int32_t& baseY, int32_t& divX, int32_t& divY, int w, int h) {
    if (baseX < 0 || baseX >= w) baseX = 0;
    if (baseY < 0 || baseY >= h) baseY = 0;
    if (divX < 1) divX = 1;
    if (divY < 1) divY = 1;
}

// The threshold lines of one condition: missing bounds take the threshold read.
void readThresholds(std::string_view text, const std::string& prefix, int32_t& thr, int32_t& lo, int32_t& hi) {
    readInto(text, prefix + "bThreshfold=", thr);
    thr = level(thr);
    auto mn = findValue(text, prefix + "bThreshfoldMin=");
    auto mx = findValue(text, prefix + "bThreshfoldMax=");
    lo = level(mn ? *mn : thr);
    hi = level(mx ? *mx : thr);
}

}  // namespace

std::optional<std::string> conditionFilePath(std::string_view bitmapPath) {
    const size_t slash = bitmapPath.find_last_of('/');
    const size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
    const size_t dot = bitmapPath.find_last_of('.');
    if (dot == std::string_view::npos || dot < nameStart) return std::nullopt;
    const std::string_view extension = bitmapPath.substr(dot + 1);
    const bool bitmap = extension.empty() || (extension.size() == 3 && (extension[0] | 0x20) == 'b' &&
                                              (extension[1] | 0x20) == 'm' && (extension[2] | 0x20) == 'p');
    // A bitmap's file replaces its extension (the name the screen viewer and
    // earlier versions use); any other picture keeps its own extension, so
    // pic.png and pic.jpg never share one.
    if (bitmap) return std::string(bitmapPath.substr(0, dot)) + ".LMC";
    return std::string(bitmapPath) + ".LMC";
}

std::string formatConditions(const ViewConditions& v) {
    std::string out;
    appendLine(out, "nBaseX=", v.nBaseX);
    appendLine(out, "nBaseY=", v.nBaseY);
    appendLine(out, "nDivX=", v.nDivX);
    appendLine(out, "nDivY=", v.nDivY);
    appendLine(out, "fOverview=", v.fOverview);
    if (v.fOverview) {
        appendLine(out, "fViewScope=", v.fViewScope);
        appendLine(out, "nViewBaseX=", v.nViewBaseX);
        appendLine(out, "nViewBaseY=", v.nViewBaseY);
        appendLine(out, "nViewDivX=", v.nViewDivX);
        appendLine(out, "nViewDivY=", v.nViewDivY);
    }
    appendLine(out, "fAutoThreshfold=", v.fAutoThreshfold);
    if (!v.fAutoThreshfold) {
        appendLine(out, "bThreshfold=", v.bThreshfold);
        appendLine(out, "bThreshfoldMin=", v.bThreshfoldMin);
        appendLine(out, "bThreshfoldMax=", v.bThreshfoldMax);
    }
    appendLine(out, "bMode=", v.bMode);
    for (int n = 1; n <= 4; ++n) {
        const StoredCondition& s = v.stored[static_cast<size_t>(n - 1)];
        const std::string p = "Condition" + std::to_string(n);
        appendLine(out, p + "=", s.flag);
        if (!s.flag) continue;
        appendLine(out, p + ".fAutoThreshfold=", s.fAutoThreshfold);
        if (s.fAutoThreshfold) continue;
        appendLine(out, p + ".bThreshfold=", s.bThreshfold);
        appendLine(out, p + ".bThreshfoldMin=", s.bThreshfoldMin);
        appendLine(out, p + ".bThreshfoldMax=", s.bThreshfoldMax);
        appendLine(out, p + ".bMode=", s.bMode);
    }
    return out;
}

void parseConditions(std::string_view text, int w, int h, ViewConditions& v) {
    readInto(text, "nBaseX=", v.nBaseX);
    readInto(text, "nBaseY=", v.nBaseY);
    readInto(text, "nDivX=", v.nDivX);
    readInto(text, "nDivY=", v.nDivY);
    correctView(v.nBaseX, v.nBaseY, v.nDivX, v.nDivY, w, h);
    readInto(text, "fOverview=", v.fOverview);
    if (v.fOverview) {
        readInto(text, "fViewScope=", v.fViewScope);
        readInto(text, "nViewBaseX=", v.nViewBaseX);
        readInto(text, "nViewBaseY=", v.nViewBaseY);
        readInto(text, "nViewDivX=", v.nViewDivX);
        readInto(text, "nViewDivY=", v.nViewDivY);
        correctView(v.nViewBaseX, v.nViewBaseY, v.nViewDivX, v.nViewDivY, w, h);
    }
    readInto(text, "fAutoThreshfold=", v.fAutoThreshfold);
    if (!v.fAutoThreshfold) readThresholds(text, "", v.bThreshfold, v.bThreshfoldMin, v.bThreshfoldMax);
    readInto(text, "bMode=", v.bMode);
    v.bMode &= 0xFFFF;
    for (int n = 1; n <= 4; ++n) {
        StoredCondition& s = v.stored[static_cast<size_t>(n - 1)];
        const std::string p = "Condition" + std::to_string(n);
        readInto(text, p + "=", s.flag);
        if (!s.flag) continue;
        readInto(text, p + ".fAutoThreshfold=", s.fAutoThreshfold);
        if (!s.fAutoThreshfold) {
            // Missing bounds take the main threshold.
            readInto(text, p + ".bThreshfold=", s.bThreshfold);
            s.bThreshfold = level(s.bThreshfold);
            auto mn = findValue(text, p + ".bThreshfoldMin=");
            auto mx = findValue(text, p + ".bThreshfoldMax=");
            s.bThreshfoldMin = level(mn ? *mn : v.bThreshfold);
            s.bThreshfoldMax = level(mx ? *mx : v.bThreshfold);
            readInto(text, p + ".bMode=", s.bMode);
            s.bMode &= 0xFFFF;
        }
    }
}

bool readConditionFile(const std::string& bitmapPath, int w, int h, ViewConditions& v) {
    const auto path = conditionFilePath(bitmapPath);
    if (!path) return false;
    std::ifstream in(*path, std::ios::binary);
    if (!in) return false;
    std::string text(kMaxFileBytes, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    parseConditions(text, w, h, v);
    return true;
}

namespace {

// The mode a new file gets: 0666 less the process's umask (read without changing it).
mode_t newFileMode() {
    mode_t mask = 022;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Umask:", 0) == 0) {
            mask = static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8) & 0777);
            break;
        }
    return 0666 & ~mask;
}

bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

bool writeConditionFile(const std::string& bitmapPath, const ViewConditions& v) {
    const auto path = conditionFilePath(bitmapPath);
    if (!path) return false;
    // Written to a fresh file of an unguessable name beside it (created, never
    // opened through a link someone placed there) and renamed over, so a failed
    // write never leaves half a file and nobody else's file is written.
    std::string temp = *path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    struct stat old {};
    const mode_t mode = ::stat(path->c_str(), &old) == 0 ? (old.st_mode & 0777) : newFileMode();
    const bool written = ::fchmod(fd, mode) == 0 && writeAll(fd, formatConditions(v)) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || std::rename(temp.c_str(), path->c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace bitora
