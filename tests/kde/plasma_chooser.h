// Answers the screen chooser of Plasma's desktop portal in a headless KWin session (tests/kde/
// kwin_session.sh --portal --grant FAKE_POINTER), for the tests and benchmarks that start a
// screen cast there.
#pragma once

#include <string>

#include "platform/desktop/kde/kwin_facts.h"

namespace tavik::test {

// Waits for the chooser to show, clicks its screen (the last tile of its list, found through the
// accessibility bus) through KWin's fake input (`fakePointer X Y`) at the place KWin's facts give
// the dialog, then presses "Share". False, with `why`, when no chooser came or a step failed.
bool answerPlasmaChooser(const desktop::kde::KWinFacts& facts, const std::string& fakePointer, std::string& why);

}  // namespace tavik::test
