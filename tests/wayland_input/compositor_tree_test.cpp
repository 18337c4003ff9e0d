// The compositor's window tree: windows found at any depth (tiled and floating), their content
// places in layout pixels, and the match of a window by process or by app id.
#include <gtest/gtest.h>

#include <string>

#include "platform/desktop/wayland/compositor_tree.h"

using namespace tavik::desktop;
using namespace tavik::desktop::wayland;

namespace {

// A trimmed reply of the shape sway gives: root > output > workspace > split > views, a floating
// view, an Xwayland view (no app id, a class), and a title with escapes.
const char* const kTree = R"({
  "id": 1, "type": "root", "name": "root", "rect": {"x": 0, "y": 0, "width": 1024, "height": 768},
  "nodes": [{
    "id": 3, "type": "output", "name": "HEADLESS-1", "rect": {"x": 0, "y": 0, "width": 1024, "height": 768},
    "nodes": [{
      "id": 4, "type": "workspace", "name": "1", "rect": {"x": 0, "y": 0, "width": 1024, "height": 768},
      "nodes": [{
        "id": 5, "type": "con", "name": null, "window": null, "rect": {"x": 0, "y": 0, "width": 1024, "height": 768},
        "nodes": [
          {"id": 6, "type": "con", "name": "pattern tavik.paper", "app_id": "tavik.paper", "pid": 4242,
           "focused": false, "rect": {"x": 0, "y": 0, "width": 512, "height": 768},
           "window_rect": {"x": 0, "y": 0, "width": 512, "height": 768}, "nodes": [], "floating_nodes": []},
          {"id": 7, "type": "con", "name": "Caf\u00e9 \"notes\"", "app_id": "tavik.ink", "pid": 4243,
           "focused": true, "rect": {"x": 512, "y": 0, "width": 512, "height": 768},
           "window_rect": {"x": 2, "y": 24, "width": 508, "height": 742}, "nodes": []}
        ]
      }],
      "floating_nodes": [
        {"id": 9, "type": "floating_con", "name": "Dialog", "app_id": null, "pid": 4242,
         "window_properties": {"class": "XTerm", "instance": "xterm"},
         "rect": {"x": 300, "y": 200, "width": 200, "height": 100},
         "window_rect": {"x": 0, "y": 0, "width": 200, "height": 100}}
      ]
    }]
  }]
})";

TEST(CompositorTree, WindowsAtAnyDepthWithTheirContentInLayoutPixels) {
    const auto w = parseCompositorTree(kTree);
    ASSERT_EQ(w.size(), 3u);  // containers, workspaces and outputs are no windows
    EXPECT_EQ(w[0].id, 6);
    EXPECT_EQ(w[0].appId, "tavik.paper");
    EXPECT_EQ(w[0].pid, 4242);
    EXPECT_EQ(w[0].content, (Rect{0, 0, 512, 768}));
    EXPECT_FALSE(w[0].focused);
    // The content is the node's place moved by its window_rect (relative to the node).
    EXPECT_EQ(w[1].content, (Rect{514, 24, 508, 742}));
    EXPECT_EQ(w[1].title, "Caf\xc3\xa9 \"notes\"");
    EXPECT_TRUE(w[1].focused);
    // Floating, from Xwayland: the class stands in for the app id.
    EXPECT_EQ(w[2].appId, "XTerm");
    EXPECT_EQ(w[2].content, (Rect{300, 200, 200, 100}));
}

TEST(CompositorTree, WindowsMatchByProcessAndTitleOrByAppAndTitle) {
    const auto w = parseCompositorTree(kTree);
    // Process 4242 has two windows: the title picks one; without a fitting title, none.
    ASSERT_NE(windowOfProcess(w, 4242, "Dialog"), nullptr);
    EXPECT_EQ(windowOfProcess(w, 4242, "Dialog")->id, 9);
    EXPECT_EQ(windowOfProcess(w, 4242, "pattern tavik.paper")->id, 6);
    EXPECT_EQ(windowOfProcess(w, 4242, "Other"), nullptr);
    // Process 4243 has one: it is the window whatever its accessible name says.
    ASSERT_NE(windowOfProcess(w, 4243, "unrelated"), nullptr);
    EXPECT_EQ(windowOfProcess(w, 4243, "unrelated")->id, 7);
    EXPECT_EQ(windowOfProcess(w, 99, "Dialog"), nullptr);
    EXPECT_EQ(windowOfProcess(w, 0, "Dialog"), nullptr);

    EXPECT_EQ(windowOfApp(w, "tavik.ink", "Caf\xc3\xa9 \"notes\"")->id, 7);
    EXPECT_EQ(windowOfApp(w, "tavik.ink", "retitled")->id, 7);  // the app's one window
    EXPECT_EQ(windowOfApp(w, "tavik.none", "Dialog"), nullptr);
    EXPECT_EQ(windowOfApp(w, "", "Dialog"), nullptr);
}

TEST(CompositorTree, HostileRepliesGiveWhatWasReadAndNeverMore) {
    EXPECT_TRUE(parseCompositorTree("").empty());
    EXPECT_TRUE(parseCompositorTree("not json").empty());
    EXPECT_TRUE(parseCompositorTree("[1, 2, 3]").empty());
    // Cut short inside the second view: the first is kept.
    const std::string tree = kTree;
    const auto cut = parseCompositorTree(tree.substr(0, tree.find("\"id\": 7")));
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_EQ(cut[0].id, 6);
    // Nesting far deeper than any tree: no crash, nothing found below the bound.
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "{\"nodes\":[";
    EXPECT_TRUE(parseCompositorTree(deep).empty());
    // Wrong types and huge numbers: no window from a rect that is not an object; sizes clamped.
    const auto odd = parseCompositorTree(
        R"({"app_id": "a", "pid": "12", "rect": [1, 2], "nodes": [{"app_id": "b", "pid": 1e300,)"
        R"( "rect": {"x": -1e12, "y": 5, "width": 1e12, "height": 7}}]})");
    ASSERT_EQ(odd.size(), 1u);
    EXPECT_EQ(odd[0].appId, "b");
    EXPECT_EQ(odd[0].content, (Rect{INT32_MIN, 5, INT32_MAX, 7}));
    // A bad escape ends the reading.
    EXPECT_TRUE(parseCompositorTree(R"({"nodes": [{"app_id": "x\q", "rect": {"x": 0}}]})").empty());
}

}  // namespace
