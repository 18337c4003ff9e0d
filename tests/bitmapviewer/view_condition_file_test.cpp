// The ".LMC" view-condition file: its name beside the bitmap, the exact text
// written, and reading it back with the corrections against the image.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "bitmapviewer/view_condition_file.h"
#include "tests/support/temp_dir.h"

using namespace bitora;

TEST(ConditionFilePath, ReplacesTheExtensionOfTheFileName) {
    EXPECT_EQ(conditionFilePath("/home/u/pic.bmp"), "/home/u/pic.LMC");
    EXPECT_EQ(conditionFilePath("a.b.BMP"), "a.b.LMC");
    EXPECT_EQ(conditionFilePath("/x/WindowImage."), "/x/WindowImage.LMC");
    // No "." in the name: no file, also when a folder has one.
    EXPECT_EQ(conditionFilePath("/home/u/picture"), std::nullopt);
    EXPECT_EQ(conditionFilePath("/home/u.v/picture"), std::nullopt);
    EXPECT_EQ(conditionFilePath(""), std::nullopt);
    // Pictures of one name in other formats each keep their own file; a
    // bitmap keeps the name it always had, whatever the case of its extension.
    EXPECT_EQ(conditionFilePath("/home/u/pic.png"), "/home/u/pic.png.LMC");
    EXPECT_EQ(conditionFilePath("/home/u/pic.jpg"), "/home/u/pic.jpg.LMC");
    EXPECT_EQ(conditionFilePath("/home/u/pic.Bmp"), "/home/u/pic.LMC");
    EXPECT_EQ(conditionFilePath("pic.bmpx"), "pic.bmpx.LMC");
}

TEST(ConditionFileText, WritesOnlyTheLinesThatApply) {
    ViewConditions v;
    v.nBaseX = 10;
    v.nBaseY = -0;
    v.nDivX = v.nDivY = 3;
    v.bThreshfold = 100;
    v.bThreshfoldMin = 90;
    v.bThreshfoldMax = 110;
    v.bMode = 0x82;
    v.stored[1] = {1, 0, 7, 6, 8, 4};
    v.stored[2] = {1, 1, 0, 0, 0, 0};
    EXPECT_EQ(formatConditions(v),
              "nBaseX=10\r\nnBaseY=0\r\nnDivX=3\r\nnDivY=3\r\nfOverview=0\r\n"
              "fAutoThreshfold=0\r\nbThreshfold=100\r\nbThreshfoldMin=90\r\nbThreshfoldMax=110\r\nbMode=130\r\n"
              "Condition1=0\r\n"
              "Condition2=1\r\nCondition2.fAutoThreshfold=0\r\nCondition2.bThreshfold=7\r\n"
              "Condition2.bThreshfoldMin=6\r\nCondition2.bThreshfoldMax=8\r\nCondition2.bMode=4\r\n"
              "Condition3=1\r\nCondition3.fAutoThreshfold=1\r\n"
              "Condition4=0\r\n");

    v = ViewConditions{};
    v.fOverview = 1;
    v.fViewScope = 1;
    v.nViewBaseX = 64;
    v.nViewBaseY = -5;
    v.nViewDivX = v.nViewDivY = 2;
    v.fAutoThreshfold = 1;
    v.bMode = 4;
    EXPECT_EQ(formatConditions(v),
              "nBaseX=0\r\nnBaseY=0\r\nnDivX=1\r\nnDivY=1\r\nfOverview=1\r\n"
              "fViewScope=1\r\nnViewBaseX=64\r\nnViewBaseY=-5\r\nnViewDivX=2\r\nnViewDivY=2\r\n"
              "fAutoThreshfold=1\r\nbMode=4\r\n"
              "Condition1=0\r\nCondition2=0\r\nCondition3=0\r\nCondition4=0\r\n");
}

TEST(ConditionFileText, ReadsBackWhatItWrites) {
    ViewConditions v;
    v.nBaseX = 12;
    v.nBaseY = 34;
    v.nDivX = v.nDivY = 4;
    v.fOverview = 1;
    v.fViewScope = 1;
    v.nViewBaseX = 5;
    v.nViewBaseY = 6;
    v.nViewDivX = v.nViewDivY = 2;
    v.bThreshfold = 50;
    v.bThreshfoldMin = 40;
    v.bThreshfoldMax = 60;
    v.bMode = 0x2082;
    v.stored[0] = {1, 0, 1, 2, 3, 0x81};
    v.stored[3] = {1, 1, 0, 0, 0, 0};
    ViewConditions back;
    parseConditions(formatConditions(v), 320, 240, back);
    EXPECT_EQ(formatConditions(back), formatConditions(v));
}

TEST(ConditionFileRead, CorrectsValuesAgainstTheImage) {
    ViewConditions v;
    // A base at or beyond the image opens at 0; a division of 0 becomes 1.
    parseConditions("nBaseX=320\r\nnBaseY=239\r\nnDivX=0\r\nnDivY=-3\r\n", 320, 240, v);
    EXPECT_EQ(v.nBaseX, 0);
    EXPECT_EQ(v.nBaseY, 239);
    EXPECT_EQ(v.nDivX, 1);
    EXPECT_EQ(v.nDivY, 1);
    // Overview values only with fOverview, with the same corrections.
    v = ViewConditions{};
    parseConditions("fOverview=0\r\nnViewBaseX=7\r\n", 320, 240, v);
    EXPECT_EQ(v.nViewBaseX, 0);
    parseConditions("fOverview=1\r\nfViewScope=1\r\nnViewBaseX=400\r\nnViewBaseY=-1\r\nnViewDivX=0\r\n", 320, 240, v);
    EXPECT_EQ(v.nViewBaseX, 0);
    EXPECT_EQ(v.nViewBaseY, 0);
    EXPECT_EQ(v.nViewDivX, 1);
    // Levels stay bytes.
    v = ViewConditions{};
    parseConditions("fAutoThreshfold=0\r\nbThreshfold=300\r\nbThreshfoldMin=-4\r\nbThreshfoldMax=255\r\n", 10, 10, v);
    EXPECT_EQ(v.bThreshfold, 255);
    EXPECT_EQ(v.bThreshfoldMin, 0);
    EXPECT_EQ(v.bThreshfoldMax, 255);
}

TEST(ConditionFileRead, MissingBoundsTakeTheThreshold) {
    ViewConditions v;
    parseConditions("fAutoThreshfold=0\r\nbThreshfold=77\r\nbMode=2\r\n"
                    "Condition1=1\r\nCondition1.fAutoThreshfold=0\r\nCondition1.bThreshfold=9\r\n"
                    "Condition1.bThreshfoldMin=3\r\nCondition1.bThreshfoldMax=12\r\nCondition1.bMode=1\r\n"
                    "Condition2=1\r\nCondition2.fAutoThreshfold=0\r\nCondition2.bThreshfold=5\r\n",
                    100, 100, v);
    EXPECT_EQ(v.bThreshfold, 77);
    // Not the stored condition's "...bThreshfoldMin=" further down: names count at line starts.
    EXPECT_EQ(v.bThreshfoldMin, 77);
    EXPECT_EQ(v.bThreshfoldMax, 77);
    EXPECT_EQ(v.bMode, 2);
    EXPECT_EQ(v.stored[0].bThreshfoldMin, 3);
    EXPECT_EQ(v.stored[0].bMode, 1);
    EXPECT_EQ(v.stored[1].bThreshfold, 5);
    EXPECT_EQ(v.stored[1].bThreshfoldMin, 77);
    EXPECT_EQ(v.stored[1].bThreshfoldMax, 77);
}

TEST(ConditionFileRead, AutomaticThresholdAndMissingNamesLeaveFieldsAlone) {
    ViewConditions v;
    v.bThreshfold = 11;
    v.nDivX = 6;
    parseConditions("fAutoThreshfold=1\r\nbThreshfold=99\r\nnDivX=x\r\ngarbage\r\n", 100, 100, v);
    EXPECT_EQ(v.fAutoThreshfold, 1);
    EXPECT_EQ(v.bThreshfold, 11);
    EXPECT_EQ(v.nDivX, 6);
    // A stored slot whose flag is 0 is not read.
    parseConditions("Condition3=0\r\nCondition3.fAutoThreshfold=1\r\n", 100, 100, v);
    EXPECT_EQ(v.stored[2].fAutoThreshfold, 0);
    // Huge numbers saturate instead of wrapping.
    parseConditions("nBaseX=99999999999999999999\r\n", 100, 100, v);
    EXPECT_EQ(v.nBaseX, 0);
}

TEST(ConditionFileDisk, WritesBesideTheBitmapAndNotWithoutADot) {
    namespace fs = std::filesystem;
    const tavik::test::TempDir folder("bitora-lmc");
    const fs::path dir = folder.path();
    fs::create_directories(dir / "with.dot");
    ViewConditions v;
    v.nBaseX = 42;
    ASSERT_TRUE(writeConditionFile((dir / "pic.bmp").string(), v));
    std::ifstream in(dir / "pic.LMC", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str().substr(0, 11), "nBaseX=42\r\n");
    ViewConditions back;
    EXPECT_TRUE(readConditionFile((dir / "pic.bmp").string(), 100, 100, back));
    EXPECT_EQ(back.nBaseX, 42);
    // No "." in the name: nothing written or read, even under a dotted folder.
    EXPECT_FALSE(writeConditionFile((dir / "with.dot" / "picture").string(), v));
    EXPECT_FALSE(fs::exists(dir / "with.LMC"));
    EXPECT_FALSE(readConditionFile((dir / "with.dot" / "picture").string(), 100, 100, back));
    // No file: nothing read, no error.
    EXPECT_FALSE(readConditionFile((dir / "other.bmp").string(), 100, 100, back));
}

// Links placed beside the bitmap at names a writer might use are never
// followed: another file stays as it was, the condition file is a file of its
// own with the user's usual mode, and no temporary file is left behind. A
// folder that cannot be written reports failure and keeps the old file.
TEST(ConditionFileDisk, NeverWritesThroughPlantedLinksAndLeavesNothingBehind) {
    namespace fs = std::filesystem;
    const tavik::test::TempDir folder("bitora-lmc-links");
    const fs::path dir = folder.path();
    const fs::path victim = dir / "victim.txt";
    std::ofstream(victim) << "keep me";
    // Names derived from the target and this process: every one a link to the victim.
    const std::string suffixes[] = {".tmp", ".tmp" + std::to_string(::getpid()), "~", ".new", ".tmp.0"};
    for (const std::string& suffix : suffixes)
        fs::create_symlink(victim, dir / ("pic.LMC" + suffix));
    ViewConditions v;
    v.nBaseX = 7;
    ASSERT_TRUE(writeConditionFile((dir / "pic.bmp").string(), v));
    std::ifstream victimIn(victim);
    std::stringstream victimText;
    victimText << victimIn.rdbuf();
    EXPECT_EQ(victimText.str(), "keep me");
    EXPECT_FALSE(fs::is_symlink(dir / "pic.LMC"));
    ViewConditions back;
    ASSERT_TRUE(readConditionFile((dir / "pic.bmp").string(), 100, 100, back));
    EXPECT_EQ(back.nBaseX, 7);
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++entries;
    EXPECT_EQ(entries, 7);  // the victim, five links, the condition file
    const auto perms = fs::status(dir / "pic.LMC").permissions();
    EXPECT_NE(perms & fs::perms::owner_read, fs::perms::none);
    EXPECT_NE(perms & fs::perms::owner_write, fs::perms::none);

    // Saving over a link at the file's own name replaces the link, not its target.
    fs::remove(dir / "pic.LMC");
    fs::create_symlink(victim, dir / "pic.LMC");
    ASSERT_TRUE(writeConditionFile((dir / "pic.bmp").string(), v));
    EXPECT_FALSE(fs::is_symlink(dir / "pic.LMC"));
    std::ifstream again(victim);
    std::stringstream againText;
    againText << again.rdbuf();
    EXPECT_EQ(againText.str(), "keep me");

    if (::geteuid() != 0) {  // root writes anywhere
        fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
        v.nBaseX = 9;
        EXPECT_FALSE(writeConditionFile((dir / "pic.bmp").string(), v));
        fs::permissions(dir, fs::perms::owner_all);
        ASSERT_TRUE(readConditionFile((dir / "pic.bmp").string(), 100, 100, back));
        EXPECT_EQ(back.nBaseX, 7);
    }
}
