// The autostart entry: where it goes, what is taken from the installed
// desktop entry, writing and removing it, and a folder that cannot be made.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "screenviewer/ui/autostart.h"

using namespace lumo::ui;
namespace fs = std::filesystem;

namespace {

std::string readAll(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

int count(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

class Autostart : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("lumo-autostart-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        ::setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
        ::setenv("XDG_DATA_DIRS", (dir_ / "nowhere").c_str(), 1);
        const char* source = std::getenv("TAVIK_SOURCE_DIR");
        ASSERT_NE(source, nullptr);
        installed_ = readAll(fs::path(source) / "packaging/lumo.desktop");
        ASSERT_NE(installed_.find("[Desktop Entry]"), std::string::npos);
    }
    void TearDown() override {
        ::unsetenv("XDG_DATA_DIRS");
        fs::remove_all(dir_);
    }
    fs::path dir_;
    std::string installed_;
};

TEST_F(Autostart, ThePathFollowsTheConfigFolderOrHome) {
    EXPECT_EQ(autostartPath().value(), (dir_ / "config/autostart/Lumo.desktop").string());
    ::setenv("XDG_CONFIG_HOME", "relative/config", 1);  // not absolute: ignored
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(autostartPath().value(), "/home/someone/.config/autostart/Lumo.desktop");
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(autostartPath().value(), "/home/someone/.config/autostart/Lumo.desktop");
    ::setenv("HOME", "", 1);
    EXPECT_FALSE(autostartPath().has_value());
}

TEST_F(Autostart, TheEntryKeepsTheInstalledOneWithAutostartSwitchedOn) {
    const std::string e = autostartEntry(installed_, "/opt/x/Lumo");
    EXPECT_EQ(e.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(e.find("\nName=Lumo\n"), std::string::npos);
    EXPECT_NE(e.find("\nExec=Lumo\n"), std::string::npos);  // the installed command, not the path
    EXPECT_NE(e.find("GenericName[ja]="), std::string::npos);
    EXPECT_EQ(count(e, "X-GNOME-Autostart-enabled="), 1);
    EXPECT_NE(e.find("X-GNOME-Autostart-enabled=true\n"), std::string::npos);

    // Hidden would switch it off again, an action group is not the entry's.
    const std::string tweaked = "# comment\n[Desktop Entry]\r\nExec=Lumo --x\r\nHidden=true\r\nName=Lumo\r\n"
                                "[Desktop Action Other]\nExec=rm -rf /\nName=Other\n";
    const std::string t = autostartEntry(tweaked, "/opt/x/Lumo");
    EXPECT_EQ(t, "[Desktop Entry]\nExec=Lumo --x\nName=Lumo\nX-GNOME-Autostart-enabled=true\n");

    // Nothing usable: a minimal entry that runs this program, quoted.
    for (const std::string& bad : {std::string(), std::string("[Desktop Entry]\nName=Lumo\n"),
                                   std::string("[Other]\nExec=Lumo\n")}) {
        const std::string m = autostartEntry(bad, "/opt/my \"tools\"/Lumo");
        EXPECT_NE(m.find("\nExec=\"/opt/my \\\"tools\\\"/Lumo\"\n"), std::string::npos) << m;
        EXPECT_NE(m.find("\nType=Application\n"), std::string::npos);
        EXPECT_NE(m.find("X-GNOME-Autostart-enabled=true\n"), std::string::npos);
    }
    // A field code or a line break in the path stays inside the one Exec value.
    const std::string odd = autostartEntry({}, "/opt/100%u\nHidden=true/Lumo");
    EXPECT_NE(odd.find("\nExec=\"/opt/100%%u\\nHidden=true/Lumo\"\n"), std::string::npos) << odd;
    EXPECT_EQ(odd.find("\nHidden="), std::string::npos) << odd;
}

TEST_F(Autostart, WritingTakesTheEntryOfTheInstallationBesideTheProgram) {
    // <prefix>/lib/tavik/Lumo with <prefix>/share/applications/lumo.desktop.
    const fs::path prefix = dir_ / "prefix";
    fs::create_directories(prefix / "lib/tavik");
    fs::create_directories(prefix / "share/applications");
    std::ofstream(prefix / "share/applications/lumo.desktop") << installed_ << "Keywords[de]=marker;\n";
    const std::string program = (prefix / "lib/tavik/Lumo").string();
    EXPECT_EQ(installedEntryPath(program), (prefix / "share/applications/lumo.desktop").string());

    EXPECT_FALSE(autostartEnabled());
    ASSERT_TRUE(setAutostart(true, program));
    EXPECT_TRUE(autostartEnabled());
    const fs::path written = dir_ / "config/autostart/Lumo.desktop";
    const std::string text = readAll(written);
    EXPECT_NE(text.find("Keywords[de]=marker;"), std::string::npos);
    EXPECT_NE(text.find("X-GNOME-Autostart-enabled=true"), std::string::npos);
    EXPECT_EQ(text.find("X-GNOME-Autostart-enabled=false"), std::string::npos);
    // Written again over itself: still one whole entry, no temporary left beside it.
    ASSERT_TRUE(setAutostart(true, program));
    EXPECT_EQ(readAll(written), text);
    EXPECT_EQ(std::distance(fs::directory_iterator(written.parent_path()), fs::directory_iterator()), 1);

    ASSERT_TRUE(setAutostart(false, program));
    EXPECT_FALSE(fs::exists(written));
    EXPECT_FALSE(autostartEnabled());
    EXPECT_TRUE(setAutostart(false, program));  // nothing there: nothing to do

    // From the data folders when the program is not in an installation.
    ::setenv("XDG_DATA_DIRS", ("relative:" + (prefix / "share").string()).c_str(), 1);
    EXPECT_EQ(installedEntryPath((dir_ / "build/bin/Lumo").string()),
              (prefix / "share/applications/lumo.desktop").string());
}

// Another user (uid 65534) plants entries where a build tree under a shared folder would find
// one: above the build tree (in the shared folder) and in a data folder of theirs named in
// XDG_DATA_DIRS.
TEST_F(Autostart, EntriesPlantedByAnotherUserAreNeverTaken) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
    const fs::path shared = dir_ / "shared";  // a folder like /tmp: everyone writes, sticky
    fs::create_directories(shared / "build/bin");
    ::chmod(shared.c_str(), 01777);
    const std::string program = (shared / "build/bin/Lumo").string();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        const std::string evil = "[Desktop Entry]\nType=Application\nName=Lumo\nExec=sh -c planted\n";
        for (const char* where : {"share/applications", "theirs/applications"}) {
            std::error_code ec;
            fs::create_directories(shared / where, ec);
            std::ofstream(shared / where / "lumo.desktop") << evil;
        }
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(fs::exists(shared / "share/applications/lumo.desktop"));
    ::setenv("XDG_DATA_DIRS", (shared / "theirs").c_str(), 1);

    EXPECT_EQ(installedEntryPath(program), "");
    ASSERT_TRUE(setAutostart(true, program));
    const std::string text = readAll(dir_ / "config/autostart/Lumo.desktop");
    EXPECT_EQ(text.find("planted"), std::string::npos) << text;
    EXPECT_NE(text.find("\nExec=\"" + program + "\"\n"), std::string::npos) << text;
}

TEST_F(Autostart, AFolderThatCannotBeMadeFailsAndLeavesItOff) {
    std::ofstream(dir_ / "config") << "a file where the folder should be\n";
    EXPECT_FALSE(setAutostart(true, "/opt/x/Lumo"));
    EXPECT_FALSE(autostartEnabled());
    EXPECT_EQ(readAll(dir_ / "config"), "a file where the folder should be\n");
}

}  // namespace
