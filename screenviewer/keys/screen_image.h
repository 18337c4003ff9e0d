// Where "save the screen image" puts its file and how the bitmap viewer is
// started on it: "WindowImage.bmp" (a Japanese name with a Japanese
// interface) in the user's documents folder (XDG), the plain name when that
// folder is unknown, and the arguments "<file>" /Com<port + 1> "/Hardware=<model>".
//
// Core use: for SaveScreenImage, hide the frame, capture and save to
// windowImagePath(documentsFolderFromEnvironment(), japanese), write the
// view-condition file beside it, start Bitora with bitoraArguments(...) as
// its argv (bitoraCommandLine gives the same as one quoted string), show the frame.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace tavik::lumo {

constexpr std::string_view kWindowImageName = "WindowImage.bmp";
constexpr std::string_view kWindowImageNameJapanese = "ウィンドウイメージ.bmp";

// The documents folder named by the text of user-dirs.dirs (XDG_DOCUMENTS_DIR,
// "$HOME/..." or absolute), else "<home>/Documents"; "" when neither can be
// formed (no home). The folder is not checked here.
std::string documentsFolder(std::string_view userDirsText, std::string_view home);
// The same from $XDG_CONFIG_HOME (or ~/.config)/user-dirs.dirs and $HOME;
// "" unless the folder exists.
std::string documentsFolderFromEnvironment();
// The image file in `folder`, or the bare name when `folder` is empty.
std::string windowImagePath(std::string_view folder, bool japanese);

// argv of the bitmap viewer after its program name: the file, "/Com<port + 1>",
// "/Hardware=<model>".
std::array<std::string, 3> bitoraArguments(std::string_view imagePath, int portIndex, std::string_view modelName);
// "\"<file>\" /Com<port + 1> \"/Hardware=<model>\"".
std::string bitoraCommandLine(std::string_view imagePath, int portIndex, std::string_view modelName);

}  // namespace tavik::lumo
