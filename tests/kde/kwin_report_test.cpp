// The window-facts script's reports as the desktop layer reads them, and the script as it is
// written out for one receiver: exact values, and hostile text that must not get through.
#include <gtest/gtest.h>

#include "platform/desktop/kde/kwin_report.h"
#include "platform/desktop/kde/kwin_script_text.h"

namespace kde = tavik::desktop::kde;
using tavik::desktop::Rect;

namespace {
constexpr const char* kLeft = "{0b6e53d4-8a4b-4b33-9bd1-5b1c2a9f0a11}";
constexpr const char* kRight = "{7f2d0c9e-1e44-4c1a-8a0e-3d2b9e6f4c22}";
}  // namespace

TEST(KWinReport, ReadsEveryFieldOfEveryWindow) {
    const std::string text = std::string("tavik-window-facts 1\t") + kRight + "\n" + kLeft +
                             "\t4242\t3\t40\t30\t640\t480\t44\t58\t632\t448\t0\torg.tavik.left\tpattern left\n" + kRight +
                             "\t77\t5\t600\t-20\t300\t200\t600\t-20\t300\t200\t1\t\tnotes\twith a tab";
    const auto r = kde::parseKWinReport(text);
    ASSERT_TRUE(r);
    ASSERT_EQ(r->windows.size(), 2u);
    const kde::KWinWindow& left = r->windows[0];
    EXPECT_EQ(left.id, kde::kwinWindowId(kLeft));
    EXPECT_EQ(left.pid, 4242);
    EXPECT_EQ(left.stacking, 3);
    EXPECT_EQ(left.frame, (Rect{40, 30, 640, 480}));
    EXPECT_EQ(left.client, (Rect{44, 58, 632, 448}));
    EXPECT_FALSE(left.minimized);
    EXPECT_EQ(left.appId, "org.tavik.left");
    EXPECT_EQ(left.title, "pattern left");
    EXPECT_EQ(r->windows[1].frame, (Rect{600, -20, 300, 200}));
    EXPECT_TRUE(r->windows[1].minimized);
    EXPECT_EQ(r->windows[1].appId, "");
    EXPECT_EQ(r->windows[1].title, "notes\twith a tab");  // the caption is the rest of the line
    EXPECT_EQ(r->active, kde::kwinWindowId(kRight));
}

TEST(KWinReport, HostileTextGivesOnlyWellFormedWindows) {
    EXPECT_FALSE(kde::parseKWinReport("tavik-window-facts 2\t\n"));
    EXPECT_FALSE(kde::parseKWinReport(""));
    EXPECT_FALSE(kde::parseKWinReport(std::string(kde::kMaxReportBytes + 1, 'a')));

    const std::string good = std::string(kLeft) + "\t1\t0\t0\t0\t10\t10\t0\t0\t10\t10\t0\tapp\tok";
    const std::string text = std::string("tavik-window-facts 1\t{no-such-window}\n") +
                             "{a}\t1\t0\t0\t0\t10\t10\t0\t0\t10\t10\t0\tapp\n" +               // a field short
                             "{b}\t1\t0\t0\t0\t4294967296\t10\t0\t0\t10\t10\t0\t\tbig\n" +  // beyond int32
                             "{c}\t1\t0\t0\t0\t1x\t10\t0\t0\t10\t10\t0\t\tjunk\n" +
                             "{d}\t1\t0\t0\t0\t10\t10\t0\t0\t10\t10\t2\t\tflag\n" +
                             "{e}\t-5\t0\t0\t0\t-10\t10\t0\t0\t10\t-1\t0\t\tneg\n" + good;
    const auto r = kde::parseKWinReport(text);
    ASSERT_TRUE(r);
    ASSERT_EQ(r->windows.size(), 2u);
    EXPECT_EQ(r->windows[0].title, "neg");
    EXPECT_EQ(r->windows[0].pid, 0);
    EXPECT_EQ(r->windows[0].frame, (Rect{0, 0, 0, 10}));
    EXPECT_EQ(r->windows[0].client, (Rect{0, 0, 10, 0}));
    EXPECT_EQ(r->windows[1].title, "ok");
    EXPECT_EQ(r->active, 0u);  // names no listed window

    // A long title is cut without splitting a character ("é" is two bytes).
    std::string title;
    while (title.size() < kde::kMaxTitleBytes + 10) title += "\xC3\xA9";
    const auto cut = kde::parseKWinReport("tavik-window-facts 1\t\n" + std::string(kLeft) +
                                          "\t1\t0\t0\t0\t1\t1\t0\t0\t1\t1\t0\t\tx" + title);
    ASSERT_TRUE(cut && cut->windows.size() == 1);
    EXPECT_EQ(cut->windows[0].title.size(), kde::kMaxTitleBytes - 1);  // "x" + whole pairs
}

TEST(KWinReport, IdsAreStableAndApartFromOtherKinds) {
    const auto a = kde::kwinWindowId(kLeft);
    EXPECT_EQ(a, kde::kwinWindowId(kLeft));
    EXPECT_NE(a, kde::kwinWindowId(kRight));
    EXPECT_EQ(a & kde::kKWinIdBits, kde::kKWinIdBits);
}

TEST(KWinScript, WrittenForOneReceiverOnly) {
    const auto s = kde::kwinScriptFor(kde::kWindowFactsScript, ":1.42", "/org/tavik/WindowFacts");
    ASSERT_TRUE(s);
    EXPECT_NE(s->find("\":1.42\""), std::string::npos);
    EXPECT_NE(s->find("\"/org/tavik/WindowFacts\""), std::string::npos);
    EXPECT_EQ(s->find("__TAVIK_"), std::string::npos);
    // Nothing that could end the script's string literal gets in.
    EXPECT_FALSE(kde::kwinScriptFor(kde::kWindowFactsScript, ":1.42\"); evil(); (\"", "/p"));
    EXPECT_FALSE(kde::kwinScriptFor(kde::kWindowFactsScript, ":1.42", "/p\\"));
    EXPECT_FALSE(kde::kwinScriptFor(kde::kWindowFactsScript, ":1.42", ""));
}
