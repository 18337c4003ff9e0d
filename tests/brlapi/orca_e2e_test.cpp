// End to end with the real screen reader: Orca (Debian's package) in a private
// session (Xvfb, its own session bus and the accessibility bus activated on
// it, speech off, braille on) reads a GTK entry of known text; its braille
// appears on padsim's text line through the braille server, and the routing
// key above a cell moves the entry's caret there. Skips, saying which step
// failed, when part of the session cannot start.
#include <signal.h>

#include <cstdio>

#include "tests/brlapi/server_rig.h"
#include "tests/support/xvfb.h"

using namespace brlapi_test;

namespace {

constexpr const char* kEntryText = "Braille on pins";

// Orca's settings: no speech, braille on, no first-start questions.
constexpr const char* kOrcaSettings = R"({
 "general": {"enableSpeech": false, "enableBraille": true, "firstStart": false,
             "activeProfile": ["Default", "default"], "startingProfile": ["Default", "default"]},
 "profiles": {"default": {"profile": ["Default", "default"], "enableSpeech": false, "enableBraille": true}},
 "keybindings": {}, "pronunciations": {}
})";

// A session bus of the test's own; the accessibility bus is activated on it.
class SessionBus {
public:
    explicit SessionBus(const std::vector<std::string>& env) {
        std::string cmd;
        for (const auto& e : env) cmd += "'" + e + "' ";
        cmd = "env " + cmd + "dbus-daemon --session --fork --print-address=1 --print-pid=1 2>/dev/null";
        FILE* p = ::popen(cmd.c_str(), "r");
        if (!p) return;
        char address[1024] = {}, pid[64] = {};
        const bool read = std::fgets(address, sizeof address, p) && std::fgets(pid, sizeof pid, p);
        ::pclose(p);
        if (!read) return;
        address_ = address;
        while (!address_.empty() && address_.back() == '\n') address_.pop_back();
        pid_ = std::atoi(pid);
    }
    ~SessionBus() {
        if (pid_ > 0) ::kill(pid_, SIGTERM);
    }
    const std::string& address() const { return address_; }

private:
    std::string address_;
    pid_t pid_ = -1;
};

class OrcaReads : public BrailleServer {};

}  // namespace

TEST_F(OrcaReads, TheEntryOnTheTextLineAndRoutingMovesItsCaret) {
    if (std::system("command -v orca >/dev/null 2>&1") != 0) GTEST_SKIP() << "orca is not installed";
    if (std::system((std::string(kPython) + " -c 'import gi; gi.require_version(\"Gtk\", \"3.0\")' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "python3-gi with GTK 3 is not installed";
    Xvfb x;
    if (x.display().empty()) GTEST_SKIP() << "Xvfb did not start";
    const std::string home = dir_ + "/home";
    std::filesystem::create_directories(home + "/.local/share/orca");
    writeFile(home + "/.local/share/orca/user-settings.conf", kOrcaSettings);
    std::vector<std::string> env;
    for (const auto& e : env_)
        if (e.rfind("DISPLAY=", 0) != 0) env.push_back(e);
    for (const std::string& e : std::vector<std::string>{"HOME=" + home, "XDG_DATA_HOME=" + home + "/.local/share",
                                 "XDG_CACHE_HOME=" + dir_ + "/cache", "DISPLAY=" + x.display(), "NO_AT_BRIDGE=0",
                                 "GTK_A11Y=atspi", "LANG=C.UTF-8"})
        env.push_back(e);
    SessionBus bus(env);
    if (bus.address().empty()) GTEST_SKIP() << "the session bus (dbus-daemon) did not start";
    env.push_back("DBUS_SESSION_BUS_ADDRESS=" + bus.address());

    Child app(kPython, {ENTRY_APP_PY, kEntryText}, env);
    if (!app.expect("ready")) GTEST_SKIP() << "the GTK entry window did not come up";
    Child orca("/usr/bin/orca", {"--debug-file=" + dir_ + "/orca.debug"}, env);

    // The entry's text as liblouis gives it, dots 7 and 8 on the caret's cell (the first).
    Child& louis = client();
    std::string want = expectedLine(louis, kEntryText, 1);
    want.resize(2 * std::string(kEntryText).size());
    const bool shown = pad_->waitState(
        [&](const std::string& s) { return Padsim::value(s, "text").compare(0, want.size(), want) == 0; },
        std::chrono::seconds(60));
    if (!shown && readFile(dir_ + "/orca.debug").find("TTY mode entered") == std::string::npos &&
        Padsim::value(pad_->state(), "text") == std::string(64, '0'))
        GTEST_SKIP() << "Orca did not start its braille (see " << dir_ << "/orca.debug)";
    ASSERT_TRUE(shown) << "text line: " << pad_->value("text") << " wanted it to start with " << want;

    // The routing key above the seventh cell puts the caret before the seventh character.
    ASSERT_TRUE(pad_->command("key 2 19 0"));
    EXPECT_TRUE(app.expect("caret 6", std::chrono::seconds(20)));
}
