// A second local user (nobody, uid 65534) against a user's running session:
// the port's controller with an application on padsim, and the screen
// viewer's two sections held as a running viewer holds them. With ports
// private to their user every attempt of the other user is refused or has no
// effect and the display keeps working; with TAVIK_SHARED_PORTS=1 the other
// user's application shares the display on purpose.
#include "tests/client/client_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

#include "common/data_maps.h"
#include "platform/shared_section.h"
#include "platform/user_scope.h"
#include "screenviewer/sections.h"

using namespace tavik::test;
using tavik::platform::sectionObjectName;

namespace {

constexpr uid_t kOtherUser = 65534;
constexpr int kCannotSwitch = 100;

// What the other user managed, one bit each.
enum Reached : int {
    kShareWritten = 1,
    kShareRead = 2,
    kHookWritten = 4,
    kHookRead = 8,
    kMapWritable = 16,
    kMapReadable = 32,
    kClaimLocked = 64,
    kMapHeld = 128,
};

bool becomeOtherUser() { return ::setgid(kOtherUser) == 0 && ::setuid(kOtherUser) == 0; }

class SecondUser : public client_test::ClientEndToEnd {
protected:
    SecondUser() : ClientEndToEnd("second-user", 3) {}
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a process as uid 65534";
        ClientEndToEnd::SetUp();
    }
    bool textShows(char cell) {
        const std::string want = hexOf(std::vector<unsigned char>(32, static_cast<unsigned char>(cell)));
        return pad_->waitState([&](const std::string& s) { return Padsim::value(s, "text") == want; });
    }
    std::string text(char cell) { return "text " + hexOf(std::vector<unsigned char>(32, static_cast<unsigned char>(cell))); }
};

}  // namespace

TEST_F(SecondUser, CannotReachTheSessionOfAnotherUser) {
    if (tavik::platform::portsSharedAcrossUsers()) GTEST_SKIP() << "runs with ports private to their user";
    Child& a = app();
    ASSERT_EQ(a.result(start()), 1);
    ASSERT_EQ(a.result("display 3"), 1);
    ASSERT_TRUE(a.expect("status 1"));
    ASSERT_EQ(a.result(text('a')), 1);
    ASSERT_TRUE(textShows('a')) << pad_->state();

    // The viewer's sections, as a running viewer holds them.
    auto hook = lumo::HookSection::openOrCreate();
    auto share = lumo::ShareSection::openOrCreate();
    ASSERT_TRUE(hook && share);
    lumo::storeWindowWord(share->data().targetWindow, 0x1234);
    const int port = port_;

    Signal tried, release;
    Child other([&] {
        if (!becomeOtherUser()) return kCannotSwitch;
        int reached = 0;
        // Steer the emulated clicks, fake a running viewer, read the carets.
        const auto attempt = [&](const char* name, size_t at, int wrote, int read) {
            const std::string obj = sectionObjectName(name);
            if (int fd = ::shm_open(obj.c_str(), O_RDWR, 0); fd >= 0) {
                const uint64_t w = 0xBAD;
                if (::pwrite(fd, &w, sizeof w, static_cast<off_t>(at)) == sizeof w) reached |= wrote;
                ::close(fd);
            }
            if (int fd = ::shm_open(obj.c_str(), O_RDONLY, 0); fd >= 0) {
                reached |= read;
                ::close(fd);
            }
        };
        attempt(lumo::kShareName, offsetof(lumo::ViewerShare, targetWindow), kShareWritten, kShareRead);
        attempt(lumo::kHookName, offsetof(lumo::HookData, dialogWindow), kHookWritten, kHookRead);
        // The port: its map, the controller's claim, and the map's liveness.
        const std::string map = sectionObjectName(tavik::portMapName(port));
        if (int fd = ::shm_open(map.c_str(), O_RDWR, 0); fd >= 0) reached |= kMapWritable;
        const int held = ::shm_open(map.c_str(), O_RDONLY, 0);
        if (held >= 0) {
            reached |= kMapReadable;
            struct flock fl {};
            fl.l_type = F_RDLCK;
            fl.l_whence = SEEK_SET;
            fl.l_len = 1;
            if (::fcntl(held, F_OFD_SETLK, &fl) == 0) reached |= kClaimLocked;
            if (::flock(held, LOCK_SH | LOCK_NB) == 0) reached |= kMapHeld;
        }
        // Whatever it got, it holds while the user goes on.
        tried.post();
        release.wait();
        return reached;
    });
    ASSERT_TRUE(tried.wait());

    // The user's display keeps working: a second application joins the one
    // controller, and what the first writes reaches the pins.
    Child& b = app();
    EXPECT_EQ(b.result(start()), 1);
    EXPECT_EQ(controllers().size(), 1u);
    ASSERT_EQ(a.result(text('b')), 1);
    EXPECT_TRUE(textShows('b')) << pad_->state();
    EXPECT_EQ(lumo::loadWindowWord(share->data().targetWindow), 0x1234u);
    EXPECT_EQ(lumo::loadWindowWord(hook->data().dialogWindow), 0u);

    release.post();
    const auto reached = other.waitExit();
    if (reached == kCannotSwitch) GTEST_SKIP() << "setuid to 65534 failed in the child";
    EXPECT_EQ(reached, 0) << "bits of what the other user reached (see enum Reached)";
    EXPECT_EQ(b.result("end"), 1);
    EXPECT_EQ(a.result("end"), 1);
}

// Ports shared on purpose: the other user's application enters the user's
// port and its text reaches the pins.
TEST_F(SecondUser, SharesThePortOnPurpose) {
    if (!tavik::platform::portsSharedAcrossUsers()) GTEST_SKIP() << "runs with TAVIK_SHARED_PORTS=1";
    Child& a = app();
    ASSERT_EQ(a.result(start()), 1);
    ASSERT_EQ(a.result("display 3"), 1);
    ASSERT_TRUE(a.expect("status 1"));

    // The other user's settings folder: not the user's own.
    std::vector<std::string> env = env_;
    for (auto& e : env)
        if (e.rfind("XDG_CONFIG_HOME=", 0) == 0) e = "XDG_CONFIG_HOME=/nonexistent";
    Child other("/usr/bin/setpriv",
                {"--reuid=" + std::to_string(kOtherUser), "--regid=" + std::to_string(kOtherUser), "--clear-groups",
                 CLIENT_APP_PATH},
                env);
    ASSERT_EQ(other.result(start()), 1);
    ASSERT_EQ(other.result("display 3"), 1);
    foreground(other.pid());
    ASSERT_EQ(other.result(text('n')), 1);
    EXPECT_TRUE(textShows('n')) << pad_->state();
    EXPECT_EQ(controllers().size(), 1u);
    EXPECT_EQ(other.result("end"), 1);
    EXPECT_EQ(a.result("end"), 1);
}
