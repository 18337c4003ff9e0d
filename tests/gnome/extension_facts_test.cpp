// The GNOME extension's answers as the desktop layer reads them, and which keys it carries.
#include <gtest/gtest.h>

#include "platform/desktop/gnome/extension_facts.h"
#include "platform/desktop/gnome/extension_keys.h"

namespace dt = tavik::desktop;

namespace {

GVariant* reply(std::initializer_list<GVariant*> windows) {
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a(tissiiiiiiiib)"));
    for (GVariant* w : windows) g_variant_builder_add_value(&b, w);
    return g_variant_ref_sink(g_variant_new("(a(tissiiiiiiiib))", &b));
}

GVariant* window(guint64 id, gint32 pid, const char* title, dt::Rect frame, dt::Rect client, bool focused) {
    return g_variant_new("(tissiiiiiiiib)", id, pid, "org.example.App", title, frame.left, frame.top, frame.width,
                         frame.height, client.left, client.top, client.width, client.height, focused);
}

TEST(ExtensionFacts, RepliesBecomeWindowsWithClientAreasInsideTheirFrames) {
    GVariant* r = reply({
        // Decorations drawn by the shell: the client area lies inside the frame.
        window(11, 4242, "Editor", {100, 50, 640, 480}, {104, 80, 632, 446}, false),
        // A window that draws its own: the client rectangle takes in the shadow around the frame.
        window(12, 4243, "Viewer", {700, 300, 300, 200}, {680, 280, 340, 240}, true),
        // Nothing on the screen: left out.
        window(13, 4244, "Hidden", {5, 5, 0, 10}, {5, 5, 0, 10}, false),
        // An id beyond int64 and a process the shell does not know.
        window(0xFFFFFFFFFFFFFFF0ull, -1, "Odd", {0, 0, 10, 20}, {0, 0, 0, 0}, false),
    });
    const auto w = dt::gnome::factsFromReply(r);
    g_variant_unref(r);
    ASSERT_TRUE(w.has_value());
    ASSERT_EQ(w->size(), 3u);
    EXPECT_EQ((*w)[0].id, 11);
    EXPECT_EQ((*w)[0].pid, 4242);
    EXPECT_EQ((*w)[0].title, "Editor");
    EXPECT_EQ((*w)[0].appId, "org.example.App");
    EXPECT_EQ((*w)[0].frame, (dt::Rect{100, 50, 640, 480}));
    EXPECT_EQ((*w)[0].content, (dt::Rect{104, 80, 632, 446}));
    EXPECT_FALSE((*w)[0].focused);
    EXPECT_EQ((*w)[1].content, (dt::Rect{700, 300, 300, 200}));
    EXPECT_TRUE((*w)[1].focused);
    EXPECT_GE((*w)[2].id, 0);
    EXPECT_EQ((*w)[2].pid, 0);
    EXPECT_EQ((*w)[2].content, (dt::Rect{0, 0, 10, 20}));

    GVariant* wrong = g_variant_ref_sink(g_variant_new("(as)", nullptr));
    EXPECT_FALSE(dt::gnome::factsFromReply(wrong).has_value());
    g_variant_unref(wrong);
    EXPECT_FALSE(dt::gnome::factsFromReply(nullptr).has_value());
}

TEST(ExtensionKeys, TheSuitesTwoKeysAreCarriedAndNoOther) {
    EXPECT_EQ(dt::gnome::extensionKeyName(0x76, dt::kModSuper), "dialog");
    EXPECT_EQ(dt::gnome::extensionKeyName(0x76, dt::kModSuper | dt::kModAlt), "dialog");  // what Lumo asks for
    EXPECT_EQ(dt::gnome::extensionKeyName(0x67, dt::kModSuper), "controller");
    EXPECT_FALSE(dt::gnome::extensionKeyName(0x76, dt::kModSuper | dt::kModShift).has_value());
    EXPECT_FALSE(dt::gnome::extensionKeyName(0x68, dt::kModSuper).has_value());
    EXPECT_FALSE(dt::gnome::extensionKeyName(0x76, 0).has_value());
}

}  // namespace
