// Per-process settings state of every deliverable that carries the shared
// foundation: the settings folder and file paths, the interface language and
// the creation rights of named sections. Set once at start-up.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tavik {

constexpr uint16_t kLangEnglish = 0x0409;
constexpr uint16_t kLangJapanese = 0x0411;
constexpr std::size_t kMaxPath = 260;

// The user's interface language from the locale (LC_ALL, LC_MESSAGES, LANG,
// first one set): "ja..." gives 0x0411, anything else 0x0409. Stores it.
uint16_t ReadUiLanguage();
uint16_t UiLanguage();
// Overrides the stored language (tests, and hosts that know better).
void SetUiLanguage(uint16_t language);
// The interface language rule: Japanese texts only for 0x0411.
inline bool isJapanese(uint16_t language) { return language == kLangJapanese; }
inline const char* pickText(const char* english, const char* japanese) {
    return isJapanese(UiLanguage()) ? japanese : english;
}

// Builds both settings paths; failures are silent (a bare file name is used).
void InitSettingsPaths();
// "$XDG_CONFIG_HOME/Orvane/TAVIK200_J/<file>" (default ~/.config), creating
// missing folders, "Orvane" first. Returns false and gives the bare file name
// when there is no per-user folder.
bool BuildSettingsPath(std::string_view fileName, std::string& path);
const std::string& TavikIniPath();
const std::string& LumoIniPath();
// The settings folder ("" when none).
std::string SettingsFolder();

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);

// Writes `value` as decimal text ("-1", "0", ...). True when written.
bool WriteProfileInt(std::string_view section, std::string_view key, int32_t value, const std::string& iniPath);

// 0 not built, 1 build attempted, 2 built: every named section is then created
// readable and writable by every local user. Never fails for the user.
int SecurityState();
int InitEveryoneSecurity();
// Runs the build once if it has not been attempted; called before every
// section is created.
void EnsureEveryoneSecurity();

}  // namespace tavik
