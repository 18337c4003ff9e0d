// Files of the screen image against another local user (uid 65534): links planted where the
// image and its condition file go, and a documents folder that is not the user's own.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "imaging/lumoutil.h"
#include "screenviewer/save_screen_image.h"

namespace fs = std::filesystem;

namespace {

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs `body` as uid 65534 in a child; true when it succeeded.
bool asOtherUser(const std::function<bool()>& body) {
    const pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        ::_exit(body() ? 0 : 1);
    }
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class SecondUserFiles : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
        dir_ = fs::temp_directory_path() / ("lumo-second-user-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "mine");
        fs::create_directories(dir_ / "shared");
        ::chmod(dir_.c_str(), 0755);
        ::chmod((dir_ / "shared").c_str(), 01777);  // like /tmp
        victim_ = dir_ / "mine/precious";
        std::ofstream(victim_) << "keep me\n";
    }
    void TearDown() override {
        if (!dir_.empty()) fs::remove_all(dir_);
    }
    fs::path dir_, victim_;
};

TEST_F(SecondUserFiles, LinksPlantedForTheImageAndItsConditionFileAreNotFollowed) {
    const fs::path image = dir_ / "shared/WindowImage.bmp", lmc = dir_ / "shared/WindowImage.LMC";
    ASSERT_TRUE(asOtherUser([&] {
        return ::symlink(victim_.c_str(), image.c_str()) == 0 && ::symlink(victim_.c_str(), lmc.c_str()) == 0;
    }));
    LumoHBITMAP bmp = lumoCreateBitmap(4, 3);
    ASSERT_NE(bmp, nullptr);
    lumoSaveBmp(bmp, image.c_str());  // may replace the link itself or refuse: never the victim
    lumoDeleteBitmap(bmp);
    lumo::replaceFile(lmc.string(), "nBaseX=0\n");
    EXPECT_EQ(readAll(victim_), "keep me\n");

    // The user's own link is followed as before: the file it names is replaced.
    const fs::path own = dir_ / "mine/link.bmp", named = dir_ / "mine/named.bmp";
    std::ofstream(named) << "old";
    ASSERT_EQ(::symlink(named.c_str(), own.c_str()), 0);
    bmp = lumoCreateBitmap(4, 3);
    EXPECT_EQ(lumoSaveBmp(bmp, own.c_str()), 1);
    lumoDeleteBitmap(bmp);
    EXPECT_TRUE(fs::is_symlink(own));
    EXPECT_EQ(readAll(named).substr(0, 2), "BM");
}

TEST_F(SecondUserFiles, TheImageGoesToAFolderOfTheUsersOwnNeverTheCurrentOne) {
    const fs::path theirs = dir_ / "shared/Documents";
    ASSERT_TRUE(asOtherUser([&] { return ::mkdir(theirs.c_str(), 0777) == 0; }));
    ::setenv("XDG_DATA_HOME", (dir_ / "mine/data").c_str(), 1);
    const std::string data = (dir_ / "mine/data/Orvane/TAVIK200_J").string();
    EXPECT_EQ(lumo::screenImageFolder((dir_ / "mine").string()), (dir_ / "mine").string());
    EXPECT_EQ(lumo::screenImageFolder(theirs.string()), data);  // another user's folder
    EXPECT_EQ(lumo::screenImageFolder(""), data);               // no documents folder
    EXPECT_EQ(lumo::screenImageFolder("relative"), data);
    struct stat st {};
    ASSERT_EQ(::stat(data.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // A data folder that someone else made first is not used.
    const fs::path planted = dir_ / "shared/data";
    ASSERT_TRUE(asOtherUser([&] {
        std::error_code ec;
        fs::create_directories(planted / "Orvane/TAVIK200_J", ec);
        return !ec;
    }));
    ::setenv("XDG_DATA_HOME", planted.c_str(), 1);
    EXPECT_EQ(lumo::screenImageFolder(""), "");
    ::unsetenv("XDG_DATA_HOME");
}

}  // namespace
