// The one reader of the "key=text" resource files: line endings, comments, keys, the two
// escapes, and the shipped files read through it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "common/text_resources.h"

namespace {

using tavik::parseTextResource;
using tavik::unescapeText;

TEST(TextResources, LinesCommentsAndKeys) {
    const auto t = parseTextResource(
        "# a comment=not a text\r\n"
        "title=Two-level Conditions\r\n"
        "\n"
        "=no key\n"
        "no equals sign\n"
        "  spaced  =kept as written  \n"
        "empty=\n"
        "twice=first\n"
        "twice=second\n"
        "eq=a=b\n"
        "last=no newline at the end");
    EXPECT_EQ(t.size(), 6u);
    EXPECT_EQ(t.at("title"), "Two-level Conditions");  // the \r of a CRLF line is not part of the text
    EXPECT_EQ(t.at("spaced"), "kept as written  ");
    EXPECT_EQ(t.at("empty"), "");
    EXPECT_EQ(t.at("twice"), "second");
    EXPECT_EQ(t.at("eq"), "a=b");
    EXPECT_EQ(t.at("last"), "no newline at the end");
    EXPECT_EQ(t.count("# a comment"), 0u);
}

TEST(TextResources, EscapesResolveLeftToRight) {
    EXPECT_EQ(unescapeText(R"(H: %d\nW: %d)"), "H: %d\nW: %d");
    // A doubled backslash before n is a backslash and a letter, not a line break.
    EXPECT_EQ(unescapeText(R"(C:\\new)"), R"(C:\new)");
    EXPECT_EQ(unescapeText(R"(a\\\nb)"), "a\\\nb");
    // Other backslashes, and one at the very end, stay.
    EXPECT_EQ(unescapeText(R"(tab\t end\)"), R"(tab\t end\)");
    EXPECT_EQ(parseTextResource(R"(path=C:\\new\nline)").at("path"), "C:\\new\nline");
}

std::string readSource(const std::string& relative) {
    const char* root = std::getenv("TAVIK_SOURCE_DIR");
    std::ifstream in(std::string(root ? root : ".") + "/" + relative, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(TextResources, TheShippedFilesKeepTheirSpacesAndLineBreaks) {
    const auto bitora = parseTextResource(readSource("resources/bitora/bitora_en.txt"));
    ASSERT_FALSE(bitora.empty());
    EXPECT_EQ(bitora.at("app"), "Bitora ");  // the title's trailing space is part of the text
    EXPECT_NE(bitora.at("propertyText").find("pixels\nW:"), std::string::npos);
    const auto controller = parseTextResource(readSource("resources/controller/controller_ja.txt"));
    ASSERT_TRUE(controller.count("confirm_text"));
    EXPECT_NE(controller.at("confirm_text").find('\n'), std::string::npos);
    EXPECT_EQ(controller.at("confirm_text").find('\\'), std::string::npos);
    for (const char* file : {"resources/client/condition_dialog_en.txt", "resources/client/condition_dialog_ja.txt"}) {
        const auto dialog = parseTextResource(readSource(file));
        EXPECT_TRUE(dialog.count("title")) << file;
    }
}

}  // namespace
