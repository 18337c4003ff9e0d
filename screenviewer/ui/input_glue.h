// Connects the device input to the running program: the client library's
// mouse and direct commands, the main dialog's commands run on its thread
// (with a bounded wait), its emulation box and mouse text, and the saving of
// the screen image for the bitmap viewer.
#pragma once

#include <memory>
#include <string>

#include "screenviewer/key_handling.h"

namespace lumo::ui {

class MainDialog;

// The handler, attached to `dialog` and active for the device callbacks.
std::unique_ptr<KeyHandler> makeInput(Viewer& viewer, MainDialog& dialog, bool japanese, int portIndex,
                                      const std::string& modelName);

}  // namespace lumo::ui
