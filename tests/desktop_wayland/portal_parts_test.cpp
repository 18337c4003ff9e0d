// The portal's parts that need no bus: D-Bus errors sorted into the missing pieces each one names
// (with the package to install in its line), and the kept permission's file: 0600, replaced whole,
// a tampered or oversized file never passed on.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/desktop/wayland/notices.h"
#include "platform/desktop/portals/errors.h"
#include "platform/desktop/portals/restore_token.h"

using namespace tavik::desktop::wayland;

namespace {

TEST(PortalErrors, EachMissingPieceIsToldApart) {
    EXPECT_EQ(classifyDBusError("org.freedesktop.DBus.Error.ServiceUnknown"), PortalResult::NoPortal);
    EXPECT_EQ(classifyDBusError("org.freedesktop.DBus.Error.NameHasNoOwner"), PortalResult::NoPortal);
    EXPECT_EQ(classifyDBusError("org.freedesktop.DBus.Error.Spawn.ChildExited"), PortalResult::NoPortal);
    EXPECT_EQ(classifyDBusError("org.freedesktop.DBus.Error.UnknownInterface"), PortalResult::NoScreenCast);
    EXPECT_EQ(classifyDBusError("org.freedesktop.DBus.Error.UnknownMethod"), PortalResult::NoScreenCast);
    EXPECT_EQ(classifyDBusError("org.freedesktop.DBus.Error.InvalidArgs"), PortalResult::NoScreenCast);
    EXPECT_EQ(classifyDBusError("org.freedesktop.DBus.Error.NoReply"), PortalResult::Silent);
    EXPECT_EQ(classifyDBusError("org.freedesktop.DBus.Error.AccessDenied"), PortalResult::Refused);
    EXPECT_EQ(classifyDBusError("org.freedesktop.portal.Error.Failed"), PortalResult::Failed);
    EXPECT_EQ(classifyDBusError("org.freedesktop.DBus.Error.ServiceUnknownX"), PortalResult::Failed);
    EXPECT_EQ(classifyDBusError(""), PortalResult::Failed);
}

TEST(PortalErrors, EachLineNamesThePackageThatBringsThePiece) {
    EXPECT_NE(std::string(missingText(Missing::Portal)).find("xdg-desktop-portal"), std::string::npos);
    EXPECT_NE(std::string(missingText(Missing::ScreenCast)).find("xdg-desktop-portal-wlr"), std::string::npos);
    EXPECT_NE(std::string(missingText(Missing::PipeWire)).find("pipewire"), std::string::npos);
    EXPECT_NE(std::string(missingText(Missing::SessionBus)).find("dbus"), std::string::npos);
    EXPECT_NE(std::string(missingText(Missing::Portal)), std::string(missingText(Missing::ScreenCast)));
}

class RestoreToken : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("tavik-token-" + std::to_string(::getpid()));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::filesystem::path dir_;
};

TEST_F(RestoreToken, KeptInTheSettingsFolderForTheUserAlone) {
    const std::string path = restoreTokenPath();
    EXPECT_EQ(path, (dir_ / "Orvane/TAVIK200_J/ScreenCast.token").string());
    EXPECT_EQ(loadRestoreToken(path), "");  // none yet
    ::umask(0);                              // even a permissive umask gives 0600
    ASSERT_TRUE(saveRestoreToken(path, "5e1f2a3b-aaaa-bbbb-cccc-0123456789ab"));
    ::umask(022);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(loadRestoreToken(path), "5e1f2a3b-aaaa-bbbb-cccc-0123456789ab");
    // A new grant replaces it whole.
    ASSERT_TRUE(saveRestoreToken(path, "second"));
    EXPECT_EQ(loadRestoreToken(path), "second");
    EXPECT_FALSE(std::filesystem::exists(path + ".new"));
    // No token from the portal: the spent one goes.
    ASSERT_TRUE(saveRestoreToken(path, ""));
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(RestoreToken, WhatIsNotATokenIsNeitherWrittenNorRead) {
    const std::string path = restoreTokenPath();
    EXPECT_FALSE(saveRestoreToken(path, "two words"));
    EXPECT_FALSE(saveRestoreToken(path, std::string(257, 'a')));
    EXPECT_FALSE(saveRestoreToken(path, "tab\there"));
    EXPECT_FALSE(saveRestoreToken("", "fine"));
    EXPECT_TRUE(validRestoreToken(std::string(256, 'a')));
    // Files written by someone else.
    std::ofstream(path) << "line one\nline two\n";
    EXPECT_EQ(loadRestoreToken(path), "");
    std::ofstream(path) << std::string(5000, 'x');
    EXPECT_EQ(loadRestoreToken(path), "");
    std::ofstream(path) << "ok-token\n";
    EXPECT_EQ(loadRestoreToken(path), "ok-token");
    // A link is not followed.
    std::filesystem::remove(path);
    std::ofstream(dir_ / "elsewhere") << "planted\n";
    std::filesystem::create_symlink(dir_ / "elsewhere", path);
    EXPECT_EQ(loadRestoreToken(path), "");
    // Without a home for settings there is no path.
    unsetenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    const std::string saved = home ? home : "";
    setenv("HOME", "relative", 1);
    EXPECT_EQ(restoreTokenPath(), "");
    if (home) setenv("HOME", saved.c_str(), 1);
}

}  // namespace
