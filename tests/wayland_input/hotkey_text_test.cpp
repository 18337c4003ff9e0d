// Hot keys as portal triggers and readable text, and the advice line for desktops without the
// global-shortcut portal.
#include <gtest/gtest.h>

#include "platform/desktop/desktop.h"
#include "platform/desktop/wayland/hotkey_text.h"

using namespace tavik::desktop;
using namespace tavik::desktop::wayland;

TEST(WaylandHotKeyText, TriggersNameModifiersInTheirOrderAndTheKeyInLowerCase) {
    EXPECT_EQ(portalTrigger('v', kModSuper), "LOGO+v");
    EXPECT_EQ(portalTrigger('G', kModSuper), "LOGO+g");
    EXPECT_EQ(portalTrigger(0xffc2, kModControl | kModAlt), "CTRL+ALT+F5");
    EXPECT_EQ(portalTrigger('7', kModShift | kModSuper | kModControl), "CTRL+SHIFT+LOGO+7");
    EXPECT_EQ(portalTrigger(0xffc9, 0), "F12");
    EXPECT_FALSE(portalTrigger(0xff0d, kModSuper));  // Return: no name here
    EXPECT_FALSE(portalTrigger(0xffca, 0));          // F13
    EXPECT_EQ(readableKey('v', kModSuper), "Super+V");
    EXPECT_EQ(readableKey(0xffbe, kModAlt), "Alt+F1");
}

TEST(WaylandHotKeyText, AdviceNamesTheShowCommandAndTheKey) {
    EXPECT_EQ(bindAdvice("Lumo", 'v', kModSuper),
              "This desktop offers no global shortcuts to programs: bind Super+V to the command \"Lumo --show\" in "
              "the desktop's keyboard settings.");
    EXPECT_NE(bindAdvice("TAVIK", 'g', kModSuper).find("Super+G to the command \"TAVIK --show\""), std::string::npos);
}

TEST(WaylandHotKeyText, TakenKeyAdviceNamesTheKeyAndThisDesktopsWayToRebind) {
    const uint32_t superAlt = kModSuper | kModAlt;
    EXPECT_EQ(takenKeyAdvice("Lumo", 'v', superAlt, "KDE"),
              "Lumo: the hot key Alt+Super+V is taken by another program. Give Lumo another key in System Settings > "
              "Shortcuts (entry \"Lumo\").");
    // $XDG_CURRENT_DESKTOP is a list; a name is matched whole.
    EXPECT_NE(takenKeyAdvice("Lumo", 'v', superAlt, "ubuntu:GNOME").find("Custom Shortcuts"), std::string::npos);
    EXPECT_NE(takenKeyAdvice("Lumo", 'v', superAlt, "X-Cinnamon:KDE").find("System Settings"), std::string::npos);
    for (const char* other : {"sway", "KDEx", "", "GNOME-Flashback-x"}) {
        const std::string line = takenKeyAdvice("TAVIK", 'g', superAlt, other);
        EXPECT_NE(line.find("Alt+Super+G is taken"), std::string::npos) << other;
        EXPECT_NE(line.find("\"TAVIK --show\" to a free key in the desktop's keyboard settings"), std::string::npos)
            << other;
    }
}

TEST(WaylandHotKeyText, QtCodesAndSessionTokens) {
    EXPECT_EQ(qtKeyCode('v', kModSuper | kModAlt), 0x18000056);  // Meta+Alt+V
    EXPECT_EQ(qtKeyCode('G', kModSuper), 0x10000047);
    EXPECT_EQ(qtKeyCode(0xffc2, kModControl | kModShift), 0x06000000 | 0x01000034);  // Ctrl+Shift+F5
    EXPECT_EQ(qtKeyCode('7', 0), 0x37);
    EXPECT_FALSE(qtKeyCode(0xff0d, kModSuper));
    EXPECT_EQ(portalSessionToken("Lumo"), "Lumo");
    EXPECT_EQ(portalSessionToken("my-app.bin_2"), "myappbin_2");
    EXPECT_EQ(portalSessionToken("--"), "tavik");
}
