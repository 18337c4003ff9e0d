// Window ids on Wayland and the matching of a compositor toplevel to an accessibility window.
#include <gtest/gtest.h>

#include <vector>

#include "platform/desktop/wayland/window_ids.h"

using namespace tavik::desktop::wayland;

TEST(WaylandWindowIds, AtspiIdsAreStableDistinctAndNeverLookLikeToplevelIds) {
    const auto a = atspiWindowId(":1.42", "/org/a11y/atspi/accessible/1");
    EXPECT_EQ(a, atspiWindowId(":1.42", "/org/a11y/atspi/accessible/1"));
    EXPECT_NE(a, atspiWindowId(":1.43", "/org/a11y/atspi/accessible/1"));
    EXPECT_NE(a, atspiWindowId(":1.42", "/org/a11y/atspi/accessible/2"));
    // The two names are kept apart: moving a character across the border changes the id.
    EXPECT_NE(atspiWindowId(":1.4", "2/x"), atspiWindowId(":1.42", "/x"));
    EXPECT_NE(a, 0u);
    EXPECT_EQ(a & kToplevelIdBit, 0u);
    EXPECT_EQ(atspiWindowId("", "") & kToplevelIdBit, 0u);
    EXPECT_NE(toplevelWindowId(7) & kToplevelIdBit, 0u);
    EXPECT_NE(toplevelWindowId(7), toplevelWindowId(8));
    EXPECT_NE(toplevelWindowId(0), 0u);
}

TEST(WaylandWindowIds, ToplevelMatchesByTitleThenByActiveWindowOfItsApplication) {
    const std::vector<WindowCandidate> wins = {
        {11, "Notes", "gedit", false},
        {12, "Report.txt", "gedit", false},
        {13, "Report.txt", "gedit", true},  // same title twice: the active one wins
        {14, "Terminal", "Foot", true},
        {15, "Mail", "evolution", false},
    };
    EXPECT_EQ(matchToplevel("Notes", "gedit", wins), 11u);
    EXPECT_EQ(matchToplevel("Report.txt", "org.gnome.gedit", wins), 13u);
    // No title match: the active window of the application named like the app id (any case).
    EXPECT_EQ(matchToplevel("~/src", "foot", wins), 14u);
    EXPECT_FALSE(matchToplevel("Inbox", "evolution", wins));  // its only window is not active
    EXPECT_FALSE(matchToplevel("", "", wins));
    // An empty title never matches an unnamed window.
    const std::vector<WindowCandidate> unnamed = {{21, "", "app", false}};
    EXPECT_FALSE(matchToplevel("", "other", unnamed));
}
