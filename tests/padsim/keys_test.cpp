// The live view's keyboard: what the terminal sends becomes device keys
// through the one key table, longer escape sequences are passed over whole,
// and the help text names every key of the table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "keys.h"
#include "options.h"

using namespace padsim;

namespace {

// "k G K B" for a device key, "png", "quit".
std::vector<std::string> decoded(std::string_view bytes) {
    std::vector<std::string> out;
    for (const KeyInput* k : decodeKeys(bytes)) {
        switch (k->action) {
        case KeyAction::DeviceKey:
            out.push_back("k " + std::to_string(k->group) + " " + std::to_string(k->key) + " " +
                          std::to_string(k->buttons));
            break;
        case KeyAction::Picture: out.push_back("png"); break;
        case KeyAction::Quit: out.push_back("quit"); break;
        }
    }
    return out;
}

using Keys = std::vector<std::string>;

}  // namespace

TEST(PadsimKeys, TerminalInputBecomesDeviceKeys) {
    EXPECT_EQ(decoded("\x1b[A\x1b[B\x1b[C\x1b[D"), (Keys{"k 4 1 0", "k 4 2 0", "k 4 4 0", "k 4 8 0"}));
    EXPECT_EQ(decoded("\x1b[H\x1b[F+-"), (Keys{"k 4 32 0", "k 4 64 0", "k 4 128 0", "k 4 16 0"}));
    EXPECT_EQ(decoded("19"), (Keys{"k 1 1 0", "k 1 9 0"}));
    EXPECT_EQ(decoded("lr"), (Keys{"k 0 0 1", "k 0 0 2"}));
    EXPECT_EQ(decoded("pq"), (Keys{"png", "quit"}));
    EXPECT_EQ(decoded("x0 L\n"), Keys{});  // not in the table
}

TEST(PadsimKeys, LongerEscapeSequencesArePassedOverWhole) {
    // Ctrl+Right and Page Up: their digits and letters are no keys of their own.
    EXPECT_EQ(decoded("\x1b[1;5C" "3"), (Keys{"k 1 3 0"}));
    EXPECT_EQ(decoded("\x1b[5~" "l"), (Keys{"k 0 0 1"}));
    // A lone escape, and a sequence cut at the end of the read.
    EXPECT_EQ(decoded("\x1b" "2"), (Keys{"k 1 2 0"}));
    EXPECT_EQ(decoded("4\x1b["), (Keys{"k 1 4 0"}));
}

TEST(PadsimKeys, HelpNamesEveryKeyOfTheTable) {
    const std::string help = helpText();
    for (const KeyRow& row : keyRows()) {
        EXPECT_NE(help.find("\n      " + std::string(row.label) + " "), std::string::npos) << row.label;
        EXPECT_NE(help.find(std::string(row.description) + "\n"), std::string::npos) << row.description;
    }
    EXPECT_NE(help.find("send device keys:\n      arrows "), std::string::npos);
}
