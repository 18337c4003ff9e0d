// The saved screen image's place and the bitmap viewer's arguments (see screen_image.h).
#include "screenviewer/keys/screen_image.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace tavik::lumo {

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string documentsFolder(std::string_view text, std::string_view home) {
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = trim(text.substr(pos, end - pos));
        pos = end + 1;
        constexpr std::string_view kKey = "XDG_DOCUMENTS_DIR";
        if (line.substr(0, kKey.size()) != kKey) continue;
        line = trim(line.substr(kKey.size()));
        if (line.empty() || line.front() != '=') continue;
        line = trim(line.substr(1));
        if (line.size() >= 2 && line.front() == '"' && line.back() == '"') line = line.substr(1, line.size() - 2);
        constexpr std::string_view kHome = "$HOME";
        if (line.substr(0, kHome.size()) == kHome) {
            if (home.empty()) return {};
            std::string rest(line.substr(kHome.size()));
            while (!rest.empty() && rest.back() == '/') rest.pop_back();
            return std::string(home) + rest;
        }
        if (!line.empty() && line.front() == '/') return std::string(line);
    }
    if (home.empty()) return {};
    return std::string(home) + "/Documents";
}

std::string documentsFolderFromEnvironment() {
    const char* homeEnv = std::getenv("HOME");
    const std::string home = homeEnv ? homeEnv : "";
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string dirsFile;
    if (config && *config == '/') dirsFile = std::string(config) + "/user-dirs.dirs";
    else if (!home.empty()) dirsFile = home + "/.config/user-dirs.dirs";
    std::string text;
    if (!dirsFile.empty()) {
        std::ifstream in(dirsFile);
        std::stringstream s;
        s << in.rdbuf();
        text = s.str();
    }
    std::string folder = documentsFolder(text, home);
    return isDirectory(folder) ? folder : std::string();
}

std::string windowImagePath(std::string_view folder, bool japanese) {
    const std::string_view name = japanese ? kWindowImageNameJapanese : kWindowImageName;
    if (folder.empty()) return std::string(name);
    std::string path(folder);
    if (path.back() != '/') path += '/';
    return path + std::string(name);
}

std::array<std::string, 3> bitoraArguments(std::string_view imagePath, int portIndex, std::string_view modelName) {
    return {std::string(imagePath), "/Com" + std::to_string(static_cast<long long>(portIndex) + 1),
            "/Hardware=" + std::string(modelName)};
}

std::string bitoraCommandLine(std::string_view imagePath, int portIndex, std::string_view modelName) {
    const auto args = bitoraArguments(imagePath, portIndex, modelName);
    return "\"" + args[0] + "\" " + args[1] + " \"" + args[2] + "\"";
}

}  // namespace tavik::lumo
