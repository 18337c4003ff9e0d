// The autostart entry of the viewer (see autostart.h).
#include "screenviewer/ui/autostart.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace lumo::ui {

namespace fs = std::filesystem;

namespace {

constexpr const char* kEntryName = "lumo.desktop";
constexpr std::size_t kMaxEntryBytes = 64 * 1024;  // a desktop entry is a few hundred bytes

std::string readSmallFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::string text(kMaxEntryBytes + 1, '\0');
    in.read(text.data(), std::streamsize(text.size()));
    text.resize(std::size_t(in.gcount()));
    return text.size() > kMaxEntryBytes ? std::string() : text;
}

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) s.pop_back();
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    return s.substr(i);
}

// The key of "Key[locale]=value" lines ("" for others).
std::string keyOf(const std::string& line) {
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) return {};
    std::string key = trimmed(line.substr(0, eq));
    const std::size_t bracket = key.find('[');
    return bracket == std::string::npos ? key : key.substr(0, bracket);
}

// Exec quoting of the desktop entry format: the path in double quotes with
// the reserved characters escaped, "%" doubled (a field code otherwise), and
// line breaks as string escapes (a raw one would end the line and start a key).
std::string quotedExec(const std::string& path) {
    std::string out = "\"";
    for (char c : path) {
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        if (c == '\r') {
            out += "\\r";
            continue;
        }
        if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
        if (c == '%') out += '%';
        out += c;
    }
    return out + "\"";
}

// Nobody but the system and this user can have put `path` there or change it: the file and
// every folder above it belong to root or to this user, and none is writable by others (but
// for sticky folders such as /tmp, where others cannot replace what is not theirs).
bool trustedFile(const std::string& path) {
    std::error_code ec;
    const fs::path real = fs::canonical(path, ec);
    if (ec) return false;
    const uid_t me = ::geteuid();
    struct stat st {};
    if (::stat(real.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if ((st.st_uid != 0 && st.st_uid != me) || (st.st_mode & 022)) return false;
    for (fs::path dir = real.parent_path();; dir = dir.parent_path()) {
        if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
        if (st.st_uid != 0 && st.st_uid != me) return false;
        if ((st.st_mode & 022) && !(st.st_mode & S_ISVTX)) return false;
        if (dir == dir.root_path()) return true;
    }
}

}  // namespace

std::optional<std::string> autostartPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config && config[0] == '/') base = config;
    else if (const char* home = std::getenv("HOME"); home && home[0] == '/') base = std::string(home) + "/.config";
    else return std::nullopt;
    return base + "/autostart/Lumo.desktop";
}

std::string installedEntryPath(const std::string& programPath) {
    std::vector<std::string> candidates;
    // <prefix>/<libdir>/tavik/Lumo: walk up to a folder holding share/applications. A program
    // elsewhere (a build tree) has no installation of its own.
    const fs::path programDir = fs::path(programPath).parent_path();
    if (!programPath.empty() && programDir.filename() == "tavik") {
        fs::path dir = programDir;
        for (int up = 0; up < 3 && dir.has_parent_path() && dir != dir.root_path(); ++up) {
            dir = dir.parent_path();
            candidates.push_back((dir / "share/applications" / kEntryName).string());
        }
    }
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::stringstream dirs(dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share");
    for (std::string d; std::getline(dirs, d, ':');)
        if (!d.empty() && d[0] == '/') candidates.push_back(d + "/applications/" + kEntryName);
    // The entry's Exec line runs at every log-in: only a file no other user could have placed.
    for (const auto& c : candidates)
        if (trustedFile(c)) return c;
    return {};
}

std::string autostartEntry(const std::string& entry, const std::string& programPath) {
    std::stringstream in(entry);
    std::string out, line;
    bool inMain = false, sawMain = false, sawExec = false;
    while (std::getline(in, line)) {
        const std::string t = trimmed(line);
        if (!t.empty() && t[0] == '[') {
            inMain = t == "[Desktop Entry]" && !sawMain;
            if (inMain) {
                sawMain = true;
                out += "[Desktop Entry]\n";
            }
            continue;
        }
        if (!inMain) continue;
        const std::string key = keyOf(t);
        if (key == "X-GNOME-Autostart-enabled" || key == "Hidden") continue;
        if (key == "Exec") sawExec = true;
        out += t + "\n";
    }
    if (!sawMain || !sawExec) {
        out = "[Desktop Entry]\nType=Application\nName=Lumo\nExec=" + quotedExec(programPath) + "\nTerminal=false\n";
    }
    out += "X-GNOME-Autostart-enabled=true\n";
    return out;
}

bool autostartEnabled() {
    const auto path = autostartPath();
    std::error_code ec;
    return path && fs::exists(*path, ec);
}

bool setAutostart(bool on, const std::string& programPath) {
    const auto path = autostartPath();
    if (!path) return false;
    std::error_code ec;
    if (!on) {
        fs::remove(*path, ec);
        return !ec;
    }
    fs::create_directories(fs::path(*path).parent_path(), ec);
    if (ec) return false;
    const std::string installed = installedEntryPath(programPath);
    const std::string text = autostartEntry(installed.empty() ? std::string() : readSmallFile(installed), programPath);
    const std::string temp = *path + ".tmp" + std::to_string(::getpid());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            fs::remove(temp, ec);
            return false;
        }
    }
    fs::rename(temp, *path, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        return false;
    }
    return true;
}

}  // namespace lumo::ui
