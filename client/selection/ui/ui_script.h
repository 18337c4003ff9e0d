// The scripted answers that let tests (and demos without a person) answer
// the questions on real widgets. TAVIK_UI_SCRIPT names a file with one answer
// a line, taken from the top as each box or dialog opens:
//   yes | no | cancel | ok | close                 a message box
//   dialog|<port item>|<device item>|ok|cancel|close   the port dialog
// (an empty item leaves that list as it is). TAVIK_UI_LOG names a file that
// gets one line for each box or dialog shown.
#pragma once

#include <optional>
#include <string>

namespace tavik::selection::ui {

// True when TAVIK_UI_SCRIPT is set.
bool scripted();
// Takes the first answer off the script (removing it from the file);
// nothing when the script is empty or unreadable.
std::optional<std::string> takeScriptLine();
// Appends one line to TAVIK_UI_LOG when it is set.
void logShown(const std::string& line);

}  // namespace tavik::selection::ui
