// Command-line parsing of the controller.
#include "controller/command_line.h"

#include <gtest/gtest.h>

using tavik::controller::parseCommandLine;
using tavik::controller::parseCommandText;

TEST(CommandLine, ClientLibraryForms) {
    auto cl = parseCommandText(" /Remote /Port:7 ");
    EXPECT_TRUE(cl.remote);
    ASSERT_TRUE(cl.portIndex);
    EXPECT_EQ(*cl.portIndex, 7);
    EXPECT_TRUE(cl.unknown.empty());

    // The same words split over several arguments, blanks kept.
    const char* argv[] = {"TAVIK", " /Remote ", "/Port:12 "};
    cl = parseCommandLine(3, argv);
    EXPECT_TRUE(cl.remote);
    ASSERT_TRUE(cl.portIndex);
    EXPECT_EQ(*cl.portIndex, 12);
    EXPECT_FALSE(cl.help);
}

TEST(CommandLine, PortDigits) {
    struct Case {
        const char* text;
        int expected;  // -1: no port
    } cases[] = {
        {"/Port:0", 0},    {"/Port:9", 9},    {"/Port:63", 63}, {"/Port:79", 79},
        {"/Port:80", 0},   {"/Port:85", 0},   {"/Port:99", 0},  {"/Port:123", 12},
        {"/Port:3x", 3},   {"/Port:", -1},    {"/Port:x5", -1}, {"/Port: 5", -1},
        {"/Port:-1", -1},  {"/port:5", -1},   {"", -1},
    };
    for (const auto& c : cases) {
        auto cl = parseCommandText(c.text);
        if (c.expected < 0) {
            EXPECT_FALSE(cl.portIndex) << c.text;
        } else {
            ASSERT_TRUE(cl.portIndex) << c.text;
            EXPECT_EQ(*cl.portIndex, c.expected) << c.text;
        }
    }
}

TEST(CommandLine, RemoteHelpAndGarbage) {
    EXPECT_FALSE(parseCommandText("/Port:3").remote);
    EXPECT_FALSE(parseCommandText("/remote").remote);
    EXPECT_TRUE(parseCommandText("--help").help);
    EXPECT_TRUE(parseCommandText("/Remote -h").help);
    // --show is understood (not warned about), and does not imply a remote start.
    const auto show = parseCommandText("--show");
    EXPECT_TRUE(show.show);
    EXPECT_FALSE(show.remote);
    EXPECT_TRUE(show.unknown.empty());
    EXPECT_FALSE(parseCommandText("/Remote /Port:1").show);
    EXPECT_FALSE(parseCommandText("--showing").show);

    auto cl = parseCommandText("\x01\xff garbage /Port:4 --frobnicate");
    EXPECT_FALSE(cl.remote);
    ASSERT_TRUE(cl.portIndex);
    EXPECT_EQ(*cl.portIndex, 4);
    ASSERT_EQ(cl.unknown.size(), 3u);
    EXPECT_EQ(cl.unknown[2], "--frobnicate");

    const char* argv[] = {"TAVIK", nullptr};
    EXPECT_FALSE(parseCommandLine(2, argv).portIndex);
    EXPECT_FALSE(parseCommandLine(1, argv).remote);
}

TEST(CommandLine, ClaimDescriptorOnlyAsPlainDigitsPastTheStandardStreams) {
    auto cl = parseCommandText("/Remote /Port:3 --headless --claim-fd=7");
    ASSERT_TRUE(cl.claimFd);
    EXPECT_EQ(*cl.claimFd, 7);
    EXPECT_TRUE(cl.headless);
    EXPECT_TRUE(cl.unknown.empty());
    cl = parseCommandText("--claim-fd=123456789");
    ASSERT_TRUE(cl.claimFd);
    EXPECT_EQ(*cl.claimFd, 123456789);

    for (const char* text : {"--claim-fd=", "--claim-fd=2", "--claim-fd=0", "--claim-fd=-5", "--claim-fd=7x",
                             "--claim-fd=+7", "--claim-fd=1234567890", "--claim-fd=99999999999999999999"}) {
        cl = parseCommandText(text);
        EXPECT_FALSE(cl.claimFd) << text;
        ASSERT_EQ(cl.unknown.size(), 1u) << text;
        EXPECT_EQ(cl.unknown[0], text);
    }
}
