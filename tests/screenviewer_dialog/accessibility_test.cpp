// The viewer's dialogs as a screen reader finds them: each dialog runs in a
// process of its own on a private Xvfb with a private session bus (whose
// accessibility bus starts on demand); the test walks the dialog's tree on
// the accessibility bus and checks that every button, check box, radio
// button, combo box and edit field is there with the name a screen reader
// speaks, in English and in Japanese.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/child.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"
#include "tests/support/xvfb.h"
// GLib headers last.
#include <atspi/atspi.h>

using namespace tavik::test;

namespace {

struct Control {
    std::string role;
    std::string name;
    std::string label;   // the name of the label it is "labelled by" (spoken before a list's item)
    std::string window;  // the title of the window it is in
};

std::string roleName(AtspiRole r) {
    switch (r) {
    case ATSPI_ROLE_PUSH_BUTTON: return "push button";
    case ATSPI_ROLE_CHECK_BOX: return "check box";
    case ATSPI_ROLE_RADIO_BUTTON: return "radio button";
    case ATSPI_ROLE_COMBO_BOX: return "combo box";
    case ATSPI_ROLE_TEXT:
    case ATSPI_ROLE_ENTRY:
    case ATSPI_ROLE_PASSWORD_TEXT:
    case ATSPI_ROLE_SPIN_BUTTON: return "edit";
    case ATSPI_ROLE_MENU_ITEM:
    case ATSPI_ROLE_CHECK_MENU_ITEM:
    case ATSPI_ROLE_MENU: return "menu item";
    default: return "";
    }
}

std::string takeString(gchar* s) {
    std::string out = s ? s : "";
    g_free(s);
    return out;
}

// The name of the first label `node` is labelled by ("" when none).
std::string labelOf(AtspiAccessible* node) {
    std::string label;
    GArray* relations = atspi_accessible_get_relation_set(node, nullptr);
    if (!relations) return label;
    for (guint i = 0; i < relations->len; ++i) {
        AtspiRelation* r = g_array_index(relations, AtspiRelation*, i);
        if (label.empty() && atspi_relation_get_relation_type(r) == ATSPI_RELATION_LABELLED_BY &&
            atspi_relation_get_n_targets(r) > 0) {
            AtspiAccessible* target = atspi_relation_get_target(r, 0);
            label = takeString(atspi_accessible_get_name(target, nullptr));
            g_object_unref(target);
        }
        g_object_unref(r);
    }
    g_array_free(relations, TRUE);
    return label;
}

// The interactive controls under `node` (depth-first, bounded depth).
void collect(AtspiAccessible* node, int depth, std::vector<Control>& out, std::string window = {}) {
    if (!node || depth > 20) return;
    GError* err = nullptr;
    const AtspiRole role = atspi_accessible_get_role(node, &err);
    if (err) {
        g_clear_error(&err);
        return;
    }
    if (role == ATSPI_ROLE_FRAME || role == ATSPI_ROLE_DIALOG || role == ATSPI_ROLE_WINDOW)
        window = takeString(atspi_accessible_get_name(node, nullptr));
    const std::string kind = roleName(role);
    if (!kind.empty())
        out.push_back({kind, takeString(atspi_accessible_get_name(node, nullptr)), labelOf(node), window});
    const gint n = atspi_accessible_get_child_count(node, nullptr);
    for (gint i = 0; i < n && i < 200; ++i) {
        AtspiAccessible* child = atspi_accessible_get_child_at_index(node, i, nullptr);
        collect(child, depth + 1, out, window);
        if (child) g_object_unref(child);
    }
}

// The application on the accessibility bus that belongs to process `pid`.
AtspiAccessible* findApplication(pid_t pid) {
    AtspiAccessible* desktop = atspi_get_desktop(0);
    AtspiAccessible* found = nullptr;
    const gint n = atspi_accessible_get_child_count(desktop, nullptr);
    for (gint i = 0; i < n && !found; ++i) {
        AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop, i, nullptr);
        if (!app) continue;
        if (atspi_accessible_get_process_id(app, nullptr) == guint(pid)) found = app;
        else g_object_unref(app);
    }
    g_object_unref(desktop);
    return found;
}

class Accessibility : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const char* app = std::getenv("LUMO_A11Y_APP");
        if (!app || !std::filesystem::exists(app)) return;
        if (std::system("command -v dbus-daemon >/dev/null 2>&1") != 0) return;
        runtime_ = std::make_unique<TempDir>("a11y-runtime");
        ::setenv("XDG_RUNTIME_DIR", runtime_->path().c_str(), 1);
        // A session bus of our own: the accessibility bus is activated on it.
        FILE* p = ::popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r");
        if (!p) return;
        char address[1024] = {}, pid[64] = {};
        const bool read = std::fgets(address, sizeof address, p) && std::fgets(pid, sizeof pid, p);
        ::pclose(p);
        if (!read) return;
        std::string a = address;
        while (!a.empty() && a.back() == '\n') a.pop_back();
        busPid_ = std::atoi(pid);
        ::setenv("DBUS_SESSION_BUS_ADDRESS", a.c_str(), 1);
        xvfb_ = std::make_unique<Xvfb>();
        ready_ = !xvfb_->display().empty() && busPid_ > 0 && atspi_init() <= 1;
    }
    static void TearDownTestSuite() {
        xvfb_.reset();
        if (busPid_ > 0) ::kill(busPid_, SIGTERM);
        runtime_.reset();
    }
    void SetUp() override {
        if (!ready_) GTEST_SKIP() << "no test application, dbus-daemon, Xvfb or accessibility bus";
    }
    // The controls of the dialog `which` in `language`, as the bus shows them.
    std::vector<Control> controlsOf(const std::string& which, const std::string& language) {
        Child app(std::getenv("LUMO_A11Y_APP"), {which, language},
                  {"DISPLAY=" + xvfb_->display(), "QT_QPA_PLATFORM=xcb", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1",
                   "QT_ACCESSIBILITY=1", "XDG_CONFIG_HOME=" + runtime_->path() + "/config"});
        std::vector<Control> controls;
        if (!app.expect("ready")) {
            unknown_ = !app.seen("unknown").empty();
            return controls;
        }
        // The bridge registers the application a moment after the window shows.
        waitUntil([&] {
            AtspiAccessible* a = findApplication(app.pid());
            if (!a) return false;
            controls.clear();
            collect(a, 0, controls);
            g_object_unref(a);
            return controls.size() >= 3;
        });
        app.send("quit");
        app.waitExit();
        return controls;
    }
    static std::map<std::string, std::string> byName(const std::vector<Control>& cs) {
        std::map<std::string, std::string> m;
        for (const auto& c : cs) m[c.name] = c.role;
        return m;
    }

    static inline std::unique_ptr<TempDir> runtime_;
    static inline pid_t busPid_ = -1;
    static inline std::unique_ptr<Xvfb> xvfb_;
    static inline bool ready_ = false;
    bool unknown_ = false;  // the test application was built without the dialog asked for
};

TEST_F(Accessibility, EveryControlOfTheMainDialogHasItsRoleAndName) {
    for (const char* language : {"en", "ja"}) {
        const auto controls = controlsOf("main", language);
        ASSERT_FALSE(controls.empty()) << language;
        for (const auto& c : controls) EXPECT_FALSE(c.name.empty()) << language << ": a " << c.role << " without a name";
        const auto names = byName(controls);
        const bool ja = std::string(language) == "ja";
        auto has = [&](const std::string& name, const std::string& role) {
            auto it = names.find(name);
            EXPECT_TRUE(it != names.end() && it->second == role) << language << ": " << role << " \"" << name << "\"";
        };
        has(ja ? "アプリケーションウィンドウ" : "Application window", "radio button");
        has(ja ? "全画面" : "FullScreen", "radio button");
        has("Focus-Sync", "check box");
        has("Mouse-Sync", "check box");
        has(ja ? "全体表示" : "Overview mode", "check box");
        has("ViewScope", "check box");
        has(ja ? "マウスエミュレーション" : "Mouse emulation", "check box");
        has(ja ? "なし" : "None", "radio button");
        has("0.1sec", "radio button");
        has("0.2sec", "radio button");
        has("0.5sec", "radio button");
        has(ja ? "隠す" : "Hide", "push button");
        has(ja ? "終了" : "Exit", "push button");
        int checks = 0, radios = 0, pushes = 0;
        for (const auto& c : controls) {
            checks += c.role == "check box";
            radios += c.role == "radio button";
            pushes += c.role == "push button";
        }
        EXPECT_EQ(checks, 5) << language;
        EXPECT_EQ(radios, 6) << language;
        EXPECT_EQ(pushes, 2) << language;
    }
}

TEST_F(Accessibility, TheConnectDialogLabelsItsLists) {
    for (const char* language : {"en", "ja"}) {
        const auto controls = controlsOf("connect", language);
        ASSERT_FALSE(controls.empty()) << language;
        for (const auto& c : controls) EXPECT_FALSE(c.name.empty()) << language << ": a " << c.role << " without a name";
        const bool ja = std::string(language) == "ja";
        // A list's name is its chosen item; the screen reader says its label first.
        std::vector<std::pair<std::string, std::string>> lists;
        for (const auto& c : controls)
            if (c.role == "combo box") lists.emplace_back(c.label, c.name);
        ASSERT_EQ(lists.size(), 2u) << language;
        EXPECT_EQ(lists[0].first, ja ? "ポート:" : "Port:");
        EXPECT_EQ(lists[0].second, "Com1");
        EXPECT_EQ(lists[1].first, ja ? "機器:" : "Device:");
        EXPECT_EQ(lists[1].second, "Pinora PX-1");
        const auto names = byName(controls);
        auto usb = names.find(ja ? "USB検出" : "USB detection");
        EXPECT_TRUE(usb != names.end() && usb->second == "push button") << language;
        for (const char* button : {"OK", "Cancel"}) EXPECT_EQ(names.count(button) + names.count(std::string("&") + button), 1u) << button;
    }
}

// Every interactive control named, no two buttons or boxes of one window with
// the same name (a screen reader could not tell them apart), lists labelled.
void expectDistinctNames(const std::vector<Control>& controls, const std::string& language) {
    std::map<std::string, int> seen;
    for (const auto& c : controls) {
        EXPECT_FALSE(c.name.empty()) << language << ": a " << c.role << " without a name";
        if (c.role == "combo box") EXPECT_FALSE(c.label.empty()) << language << ": list \"" << c.name << "\" unlabelled";
        else if (c.role != "menu item") ++seen[c.window + ": " + c.role + " " + c.name];
    }
    for (const auto& [name, n] : seen) EXPECT_EQ(n, 1) << language << ": " << n << " controls named " << name;
}

TEST_F(Accessibility, TheConditionDialogSpeaksWhatEachShortButtonDoes) {
    for (const char* language : {"en", "ja"}) {
        const auto controls = controlsOf("condition", language);
        if (unknown_) GTEST_SKIP() << "the condition dialog is not built";
        ASSERT_FALSE(controls.empty()) << language;
        expectDistinctNames(controls, language);
        const auto names = byName(controls);
        const bool ja = std::string(language) == "ja";
        for (const char* name : {ja ? "閾値を上げる" : "Threshold up", ja ? "上限を下げる" : "Upper bound down",
                                 ja ? "下限を上げる" : "Lower bound up", ja ? "赤フィルタ" : "Red filter"}) {
            EXPECT_EQ(names.count(name), 1u) << language << ": " << name;
        }
    }
}

TEST_F(Accessibility, TheControllerWindowOptionsAndJoystickDialogsNameEveryControl) {
    for (const char* language : {"en", "ja"}) {
        const auto controls = controlsOf("controller", language);
        if (unknown_) GTEST_SKIP() << "the controller's windows are not built";
        ASSERT_FALSE(controls.empty()) << language;
        expectDistinctNames(controls, language);
        int lists = 0;
        for (const auto& c : controls) lists += c.role == "combo box";
        EXPECT_GE(lists, 14) << language;  // channel, speed, the ten buttons' lists, window policy, monitor size
    }
}

}  // namespace
