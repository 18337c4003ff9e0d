// Settings paths, the language rule and the INI store, including writers in
// several processes at once.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "common/ini_store.h"
#include "common/settings.h"
#include "tests/support/child.h"
#include "tests/support/temp_dir.h"

using namespace tavik;
namespace fs = std::filesystem;

namespace {

// A fresh folder of its own for each test.
class TempDir : public test::TempDir {
public:
    TempDir() : test::TempDir("settings") {}
};

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(SettingsPaths, FoldersCreatedInOrderAndLanguageRule) {
    TempDir dir;
    ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    InitSettingsPaths();
    EXPECT_EQ(TavikIniPath(), dir.path() + "/Orvane/TAVIK200_J/TAVIK.ini");
    EXPECT_EQ(LumoIniPath(), dir.path() + "/Orvane/TAVIK200_J/Lumo.ini");
    EXPECT_TRUE(DirectoryExists(dir.path() + "/Orvane/TAVIK200_J"));
    EXPECT_FALSE(FileExists(dir.path() + "/Orvane"));
    EXPECT_TRUE(SettingsFolder().size() > 0);

    ::setenv("LC_ALL", "ja_JP.UTF-8", 1);
    EXPECT_EQ(ReadUiLanguage(), kLangJapanese);
    EXPECT_STREQ(pickText("en", "ja"), "ja");
    ::setenv("LC_ALL", "zh_CN.UTF-8", 1);
    EXPECT_EQ(ReadUiLanguage(), kLangEnglish);
    ::unsetenv("LC_ALL");
    ::setenv("LC_MESSAGES", "ja_JP", 1);
    ::setenv("LANG", "en_US", 1);
    EXPECT_EQ(ReadUiLanguage(), kLangJapanese);
    ::unsetenv("LC_MESSAGES");
    EXPECT_EQ(ReadUiLanguage(), kLangEnglish);
    ::unsetenv("XDG_CONFIG_HOME");
}

TEST(IniStore, ProfileSemantics) {
    TempDir dir;
    const std::string ini = dir.path() + "/TAVIK.ini";
    EXPECT_EQ(profileGetInt("Ports", "Com1", 7, ini), 7) << "missing file gives default";
    EXPECT_TRUE(WriteProfileInt("Options", "Speed", -1, ini));
    EXPECT_TRUE(WriteProfileInt("Options", "Zero", 0, ini));
    EXPECT_EQ(slurp(ini), "[Options]\nSpeed=-1\nZero=0\n");
    EXPECT_EQ(profileGetInt("options", "SPEED", 5, ini), -1) << "case-insensitive";
    EXPECT_TRUE(profileWriteString("Ports", "Com3", "/dev/ttyUSB0", ini));
    EXPECT_EQ(profileGetString("PORTS", "com3", "", ini), "/dev/ttyUSB0");
    EXPECT_TRUE(profileWriteString("options", "speed", "12abc", ini));
    EXPECT_EQ(profileGetInt("Options", "Speed", 5, ini), 12) << "leading digits";
    EXPECT_TRUE(profileWriteString("Options", "Speed", "abc", ini));
    EXPECT_EQ(profileGetInt("Options", "Speed", 5, ini), 0) << "no digits reads as 0";
    EXPECT_TRUE(profileWriteString("Options", "Big", "99999999999", ini));
    EXPECT_EQ(profileGetInt("Options", "Big", 5, ini), INT32_MAX);
    EXPECT_EQ(profileGetInt("Options", "Missing", 5, ini), 5);
    EXPECT_EQ(profileGetInt("Nope", "Speed", 5, ini), 5);
    EXPECT_FALSE(profileWriteString("Bad\nSection", "k", "v", ini));
    EXPECT_FALSE(profileWriteString("S", "k=x", "v", ini));
    EXPECT_TRUE(profileDeleteKey("Options", "Zero", ini));
    EXPECT_EQ(profileGetInt("Options", "Zero", 9, ini), 9);
    auto keys = profileGetSection("options", ini);
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].first, "Speed");
    EXPECT_EQ(profileSectionNames(ini), (std::vector<std::string>{"Options", "Ports"}));
}

TEST(IniStore, KeepsCommentsAndForeignLinesAndQuotes) {
    TempDir dir;
    const std::string ini = dir.path() + "/x.ini";
    {
        std::ofstream out(ini);
        out << "; settings\r\n[devices]\r\nName = \"Pinora PX-2\" \r\n\r\n[Other]\r\nA=1\r\n";
    }
    EXPECT_EQ(profileGetString("Devices", "name", "", ini), "Pinora PX-2");
    EXPECT_TRUE(profileWriteString("devices", "Extra", "yes", ini));
    EXPECT_EQ(slurp(ini), "; settings\r\n[devices]\r\nName = \"Pinora PX-2\" \r\nExtra=yes\r\n\r\n[Other]\r\nA=1\r\n");
}

TEST(IniStore, ConcurrentWritersLoseNothing) {
    TempDir dir;
    const std::string ini = dir.path() + "/shared.ini";
    constexpr int kWriters = 6, kKeys = 40;
    std::vector<std::unique_ptr<test::Child>> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.push_back(std::make_unique<test::Child>([&, w] {
            for (int k = 0; k < kKeys; ++k) {
                std::string section = (k % 2) ? "Common" : "Writer" + std::to_string(w);
                if (!WriteProfileInt(section, "k" + std::to_string(w) + "_" + std::to_string(k), w * 1000 + k, ini))
                    return 1;
            }
            return 0;
        }));
    }
    for (auto& w : writers) EXPECT_EQ(w->waitExit(), 0);
    for (int w = 0; w < kWriters; ++w)
        for (int k = 0; k < kKeys; ++k) {
            std::string section = (k % 2) ? "Common" : "Writer" + std::to_string(w);
            EXPECT_EQ(profileGetInt(section, "k" + std::to_string(w) + "_" + std::to_string(k), -1, ini), w * 1000 + k);
        }
}

// A settings file that exists but cannot be read must never be replaced by a
// file holding only the key being written. Root reads any file, so the
// unreadable file here is a symbolic link that loops (ELOOP on open).
TEST(IniStore, UnreadableFileIsNeverRewritten) {
    TempDir dir;
    const std::string ini = dir.path() + "/TAVIK.ini";
    ASSERT_EQ(::symlink("TAVIK.ini", ini.c_str()), 0);
    EXPECT_FALSE(profileWriteString("Ports", "Com1", "/dev/ttyUSB0", ini));
    EXPECT_FALSE(profileDeleteKey("Ports", "Com1", ini));
    EXPECT_TRUE(fs::is_symlink(ini)) << "the unreadable file was replaced";
    int leftovers = 0;
    for (const auto& e : fs::directory_iterator(dir.path())) leftovers += e.path() != ini;
    EXPECT_EQ(leftovers, 0) << "a temporary file was left behind";

    // An absent file is created, and a readable one keeps its other keys.
    const std::string other = dir.path() + "/Lumo.ini";
    ASSERT_TRUE(profileWriteString("A", "x", "1", other));
    ASSERT_TRUE(profileWriteString("B", "y", "2", other));
    EXPECT_EQ(profileGetInt("A", "x", 0, other), 1);
    EXPECT_EQ(profileGetInt("B", "y", 0, other), 2);
}
