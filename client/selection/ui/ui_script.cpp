// Reading and consuming the answer script, and the log of what was shown.
#include "client/selection/ui/ui_script.h"

#include <cstdlib>
#include <fstream>
#include <vector>

namespace tavik::selection::ui {

namespace {

const char* env(const char* name) {
    const char* v = std::getenv(name);
    return v && *v ? v : nullptr;
}

}  // namespace

bool scripted() { return env("TAVIK_UI_SCRIPT") != nullptr; }

std::optional<std::string> takeScriptLine() {
    const char* path = env("TAVIK_UI_SCRIPT");
    if (!path) return std::nullopt;
    std::vector<std::string> lines;
    {
        std::ifstream in(path);
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(std::move(line));
        }
    }
    std::optional<std::string> taken;
    std::size_t next = 0;
    for (; next < lines.size(); ++next) {
        if (lines[next].empty() || lines[next][0] == '#') continue;
        taken = lines[next++];
        break;
    }
    std::ofstream out(path, std::ios::trunc);
    for (std::size_t i = next; i < lines.size(); ++i) out << lines[i] << '\n';
    return taken;
}

void logShown(const std::string& line) {
    if (const char* path = env("TAVIK_UI_LOG")) std::ofstream(path, std::ios::app) << line << '\n';
}

}  // namespace tavik::selection::ui
