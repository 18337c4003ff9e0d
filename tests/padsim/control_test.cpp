// Control command lines and command-line options of padsim.
#include <gtest/gtest.h>

#include "control.h"
#include "options.h"

using namespace padsim;

TEST(PadsimControl, ParsesCommands) {
    auto key = parseControlLine("key 4 0x01 0   # up");
    ASSERT_TRUE(key.command);
    EXPECT_EQ(key.command->kind, CommandKind::Key);
    EXPECT_EQ(key.command->bytes, (std::vector<uint8_t>{4, 1, 0, 0}));

    auto db = parseControlLine("datablock 0x21 01 02ff");
    ASSERT_TRUE(db.command);
    EXPECT_EQ(db.command->code, 0x21);
    EXPECT_EQ(db.command->bytes, (std::vector<uint8_t>{1, 2, 0xFF}));

    auto raw = parseControlLine("raw ffff e1 00 0400 01020304");
    ASSERT_TRUE(raw.command);
    EXPECT_EQ(raw.command->bytes.size(), 10u);

    auto wait = parseControlLine("wait 250");
    ASSERT_TRUE(wait.command);
    EXPECT_EQ(wait.command->ms, 250u);

    auto log = parseControlLine("log step 3 done");
    ASSERT_TRUE(log.command);
    EXPECT_EQ(log.command->text, "step 3 done");

    EXPECT_FALSE(parseControlLine("   # only a comment").command);
    EXPECT_TRUE(parseControlLine("").error.empty());
}

TEST(PadsimControl, RejectsBadLines) {
    for (const char* bad : {"key 4 1", "key 256 0 0", "key 4 1 0 0 0", "broadcast 1 2 3", "datablock 1 0", "raw zz",
                            "raw", "png", "wait -1", "wait 1x", "frobnicate"}) {
        const auto r = parseControlLine(bad);
        EXPECT_FALSE(r.command) << bad;
        EXPECT_FALSE(r.error.empty()) << bad;
    }
}

TEST(PadsimOptions, DeviceFlagsAndErrors) {
    Options o;
    std::string err;
    ASSERT_TRUE(parseOptions({"--model", "PX-48", "--multilevel", "--size", "48x32", "--cells", "0",
                              "--notetaker-cells", "40", "--answer", "a0=none", "--answer", "55=0102"},
                             o, err))
        << err;
    EXPECT_EQ(o.device.model, "PX-48");
    EXPECT_EQ(o.device.info[2], 2);
    EXPECT_EQ(o.device.info[5], 40);
    EXPECT_EQ(o.device.width, 48);
    EXPECT_EQ(o.device.textCells, 0);
    EXPECT_TRUE(o.device.answers.at(0xA0).empty());
    EXPECT_EQ(o.device.answers.at(0x55), (std::vector<uint8_t>{1, 2}));

    Options raw;
    ASSERT_TRUE(parseOptions({"--info", "0102030405060708"}, raw, err)) << err;
    EXPECT_EQ(raw.device.info[2], 3);  // --info keeps its own byte 2
    EXPECT_EQ(raw.device.info[7], 8);

    for (std::vector<std::string> bad : {std::vector<std::string>{"--size", "64"}, {"--size", "0x48"}, {"--cells", "129"},
                                          {"--info", "0102"}, {"--answer", "10=00"}, {"--fd-in", "3"}, {"--model"},
                                          {"--model", "a-name-far-too-long-for-the-reply"}, {"--what"}}) {
        Options x;
        std::string e;
        EXPECT_FALSE(parseOptions(bad, x, e)) << bad[0];
        EXPECT_FALSE(e.empty());
    }
}
