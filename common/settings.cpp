// Settings folder, paths, language and section creation rights.
#include "common/settings.h"

#include "common/ini_store.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavik {
namespace {

// The process-wide state the foundation keeps; written at start-up.
struct State {
    std::string tavikIni = "TAVIK.ini";
    std::string lumoIni = "Lumo.ini";
    uint16_t language = kLangEnglish;
    int securityState = 0;
    std::mutex securityMutex;
};

State& state() {
    static State s;
    return s;
}

std::string homeFolder() {
    if (const char* h = std::getenv("HOME"); h && *h) return h;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return {};
}

std::string configBase() {
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x == '/') return x;
    std::string home = homeFolder();
    if (home.empty()) return {};
    return home + "/.config";
}

void ensureFolder(const std::string& path) {
    if (!DirectoryExists(path)) ::mkdir(path.c_str(), 0755);
}

}  // namespace

uint16_t ReadUiLanguage() {
    const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    uint16_t lang = kLangEnglish;
    for (const char* n : names) {
        const char* v = std::getenv(n);
        if (v && *v) {
            lang = (v[0] == 'j' && v[1] == 'a') ? kLangJapanese : kLangEnglish;
            break;
        }
    }
    state().language = lang;
    return lang;
}

uint16_t UiLanguage() { return state().language; }
void SetUiLanguage(uint16_t language) { state().language = language; }

bool BuildSettingsPath(std::string_view fileName, std::string& path) {
    std::string base = configBase();
    if (base.empty() || !DirectoryExists(base)) {
        if (!base.empty()) ::mkdir(base.c_str(), 0700);
        if (base.empty() || !DirectoryExists(base)) {
            path = std::string(fileName);
            return false;
        }
    }
    std::string p = base + "/Orvane";
    ensureFolder(p);
    p += "/TAVIK200_J";
    ensureFolder(p);
    p += "/";
    p += fileName;
    if (p.size() >= kMaxPath * 16) {  // absurd environment: fall back to the bare name
        path = std::string(fileName);
        return false;
    }
    path = p;
    return true;
}

void InitSettingsPaths() {
    BuildSettingsPath("TAVIK.ini", state().tavikIni);
    BuildSettingsPath("Lumo.ini", state().lumoIni);
}

const std::string& TavikIniPath() { return state().tavikIni; }
const std::string& LumoIniPath() { return state().lumoIni; }

std::string SettingsFolder() {
    const std::string& p = state().tavikIni;
    auto slash = p.rfind('/');
    return slash == std::string::npos ? std::string{} : p.substr(0, slash);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool WriteProfileInt(std::string_view section, std::string_view key, int32_t value, const std::string& iniPath) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%d", value);
    return profileWriteString(section, key, buf, iniPath);
}

int SecurityState() { return state().securityState; }

int InitEveryoneSecurity() {
    // Sections get their mode from the platform layer whatever the umask (this
    // user's only, or every user's while ports are shared); there is nothing
    // that can fail to load here.
    state().securityState = 1;
    state().securityState = 2;
    return 1;
}

void EnsureEveryoneSecurity() {
    std::lock_guard<std::mutex> lock(state().securityMutex);
    if (state().securityState == 0) InitEveryoneSecurity();
}

}  // namespace tavik
