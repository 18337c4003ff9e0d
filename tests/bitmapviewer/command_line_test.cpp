// The bitmap viewer's command line: tokens, quoted paths, "/com" and "/hardware=".
#include <gtest/gtest.h>

#include "bitmapviewer/command_line.h"

using namespace bitora;

TEST(CommandLineTokens, QuotesKeepBlanksAndMultiByteCharactersStayWhole) {
    EXPECT_EQ(tokenize("Bitora  \"/tmp/my pics/a b.bmp\"\t/Com3"),
              (std::vector<std::string>{"Bitora", "/tmp/my pics/a b.bmp", "/Com3"}));
    EXPECT_EQ(tokenize("x /ha\"rdware=Pinora PX-2\""), (std::vector<std::string>{"x", "/hardware=Pinora PX-2"}));
    EXPECT_EQ(tokenize("x \"\""), (std::vector<std::string>{"x", ""}));
    EXPECT_EQ(tokenize("x \"unclosed quote"), (std::vector<std::string>{"x", "unclosed quote"}));
    // A UTF-8 sequence is never split (its bytes are not blanks or quotes anyway).
    EXPECT_EQ(tokenize("x \xE7\x94\xBB\xE5\x83\x8F.bmp"), (std::vector<std::string>{"x", "\xE7\x94\xBB\xE5\x83\x8F.bmp"}));
    EXPECT_TRUE(tokenize("").empty());
}

TEST(CommandLineParse, PortModelAndFile) {
    CommandLine cl = parseCommandLine("Bitora \"C:/a b/pic.bmp\" /COM1 /Hardware=QX-64X48");
    EXPECT_EQ(cl.portIndex, 0);
    EXPECT_EQ(cl.model, "QX-64X48");
    EXPECT_EQ(cl.file, "C:/a b/pic.bmp");

    cl = parseCommandLine("Bitora /com80 \"/HARDWARE=Pinora New PX-2\"");
    EXPECT_EQ(cl.portIndex, 79);
    EXPECT_EQ(cl.model, "Pinora New PX-2");
    EXPECT_TRUE(cl.file.empty());

    // The program token is ignored even when it looks like an option.
    cl = parseCommandLine("/com5 pic.bmp");
    EXPECT_FALSE(cl.portIndex.has_value());
    EXPECT_EQ(cl.file, "pic.bmp");
}

TEST(CommandLineParse, PortsOutsideTheRangeAreIgnored) {
    for (const char* bad : {"/com0", "/com81", "/com", "/com1x", "/com-1", "/com0001"}) {
        const CommandLine cl = parseCommandLine(std::string("Bitora ") + bad);
        EXPECT_FALSE(cl.portIndex.has_value()) << bad;
        EXPECT_TRUE(cl.file.empty()) << bad;
        EXPECT_EQ(cl.ignored.size(), 1u) << bad;
    }
    EXPECT_EQ(parseCommandLine("Bitora /com064").portIndex, 63);
}

TEST(CommandLineParse, HelpAndArgvTokens) {
    EXPECT_TRUE(parseCommandLine("Bitora --help").help);
    const CommandLine v = parseCommandLine("Bitora --version");
    EXPECT_TRUE(v.version);
    EXPECT_TRUE(v.file.empty());  // not a file to open
    EXPECT_FALSE(parseCommandLine("Bitora pic.png").version);
    const std::vector<std::string> argv = {"my file.bmp", "/Com2", "/hardware="};
    const CommandLine cl = parseTokens(argv);
    EXPECT_EQ(cl.file, "my file.bmp");
    EXPECT_EQ(cl.portIndex, 1);
    EXPECT_EQ(cl.model, "");
    EXPECT_NE(usageText().find("/Hardware="), std::string::npos);
    EXPECT_NE(usageText().find("PNG, JPEG"), std::string::npos);
}

TEST(CommandLineParse, PathsUnderComAreFiles) {
    // Folders and file names that begin like the port option are still paths.
    for (const char* path : {"/common/pic.bmp", "/com1/pic.bmp", "/COM5/x", "/comic.png", "/com2.bmp"}) {
        const CommandLine cl = parseCommandLine(std::string("Bitora ") + path);
        EXPECT_EQ(cl.file, path) << path;
        EXPECT_FALSE(cl.portIndex.has_value()) << path;
        EXPECT_TRUE(cl.ignored.empty()) << path;
    }
    const CommandLine cl = parseCommandLine("Bitora /com3 /common/pic.bmp");
    EXPECT_EQ(cl.portIndex, 2);
    EXPECT_EQ(cl.file, "/common/pic.bmp");
}
