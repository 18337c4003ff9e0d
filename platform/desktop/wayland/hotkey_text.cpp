// Hot keys as portal triggers, readable names and the advice line.
#include "platform/desktop/wayland/hotkey_text.h"

#include <algorithm>
#include <cctype>

#include "platform/desktop/desktop.h"

namespace tavik::desktop::wayland {

std::optional<std::string> keyName(uint32_t keysym) {
    if ((keysym >= 'a' && keysym <= 'z') || (keysym >= '0' && keysym <= '9')) return std::string(1, char(keysym));
    if (keysym >= 'A' && keysym <= 'Z') return std::string(1, char(keysym - 'A' + 'a'));
    if (keysym >= 0xffbe && keysym <= 0xffc9) return "F" + std::to_string(keysym - 0xffbe + 1);
    return std::nullopt;
}

namespace {
struct Mod {
    uint32_t bit;
    const char* portal;
    const char* readable;
};
constexpr Mod kMods[] = {{kModControl, "CTRL", "Ctrl"},
                         {kModAlt, "ALT", "Alt"},
                         {kModShift, "SHIFT", "Shift"},
                         {kModSuper, "LOGO", "Super"}};
}  // namespace

std::optional<std::string> portalTrigger(uint32_t keysym, uint32_t modifiers) {
    auto key = keyName(keysym);
    if (!key) return std::nullopt;
    std::string out;
    for (const Mod& m : kMods)
        if (modifiers & m.bit) out += std::string(m.portal) + "+";
    return out + *key;
}

std::string readableKey(uint32_t keysym, uint32_t modifiers) {
    auto key = keyName(keysym);
    if (!key) return {};
    std::string out;
    for (const Mod& m : kMods)
        if (modifiers & m.bit) out += std::string(m.readable) + "+";
    if (key->size() == 1) (*key)[0] = char(std::toupper(static_cast<unsigned char>((*key)[0])));
    return out + *key;
}

std::string bindAdvice(std::string_view program, uint32_t keysym, uint32_t modifiers) {
    const std::string key = readableKey(keysym, modifiers);
    std::string line = "This desktop offers no global shortcuts to programs: bind ";
    line += key.empty() ? std::string("a key") : key;
    line += " to the command \"";
    line += program;
    line += " --show\" in the desktop's keyboard settings.";
    return line;
}

std::optional<int32_t> qtKeyCode(uint32_t keysym, uint32_t modifiers) {
    const auto key = keyName(keysym);
    if (!key) return std::nullopt;
    int32_t code = 0;
    if (key->size() == 1)
        code = std::toupper(static_cast<unsigned char>((*key)[0]));
    else
        code = 0x01000030 + std::stoi(key->substr(1)) - 1;  // Qt::Key_F1 onwards
    if (modifiers & kModShift) code |= 0x02000000;
    if (modifiers & kModControl) code |= 0x04000000;
    if (modifiers & kModAlt) code |= 0x08000000;
    if (modifiers & kModSuper) code |= 0x10000000;
    return code;
}

std::string portalSessionToken(std::string_view program) {
    std::string out;
    for (char c : program)
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') out += c;
    return out.empty() ? std::string("tavik") : out;
}

std::string takenKeyAdvice(std::string_view program, uint32_t keysym, uint32_t modifiers, std::string_view desktop) {
    const std::string key = readableKey(keysym, modifiers);
    const std::string prog(program);
    std::string line = prog + ": the hot key " + (key.empty() ? std::string("asked for") : key) +
                       " is taken by another program. ";
    const auto names = [&desktop](std::string_view name) {
        // $XDG_CURRENT_DESKTOP is a colon-separated list.
        for (size_t start = 0; start <= desktop.size();) {
            const size_t end = std::min(desktop.find(':', start), desktop.size());
            if (desktop.substr(start, end - start) == name) return true;
            start = end + 1;
        }
        return false;
    };
    if (names("KDE"))
        line += "Give " + prog + " another key in System Settings > Shortcuts (entry \"" + prog + "\").";
    else if (names("GNOME"))
        line += "Bind the command \"" + prog + " --show\" to a free key in Settings > Keyboard > View and Customize "
                "Shortcuts > Custom Shortcuts.";
    else
        line += "Bind the command \"" + prog + " --show\" to a free key in the desktop's keyboard settings.";
    return line;
}

}  // namespace tavik::desktop::wayland
