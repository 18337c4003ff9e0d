// The questions the port detection and selection ask the user, as the core
// sees them. The real one forwards to the dialog library through the table of
// ui_bridge.h; tests substitute their own. Core code never includes Qt.
#pragma once

#include <string>
#include <vector>

#include "client/selection/ui_bridge.h"

namespace tavik::selection {

enum class Answer { None = TAVIK_UI_ANSWER_NONE, Ok = TAVIK_UI_ANSWER_OK, Cancel = TAVIK_UI_ANSWER_CANCEL,
                    Yes = TAVIK_UI_ANSWER_YES, No = TAVIK_UI_ANSWER_NO };

enum class Buttons { OkCancel = TAVIK_UI_OK_CANCEL, YesNoCancel = TAVIK_UI_YES_NO_CANCEL };

struct PortDialogRequest {
    std::string title, portLabel, deviceLabel, okText, cancelText;  // interface language
    std::vector<std::string> ports;    // "Com1" ... "Com64"
    std::vector<std::string> devices;  // model names offered
    int selectedPort = 0;              // in: shown selected; out: chosen
    int selectedDevice = 0;
    unsigned long owner = 0;
};

class SelectionUi {
public:
    virtual ~SelectionUi() = default;
    // Modal; blocks until answered. Answer::None when no box can be shown.
    virtual Answer messageBox(const std::string& caption, const std::string& text, Buttons buttons,
                              unsigned long owner) = 0;
    // Modal; true after OK with the request's selections updated, false after
    // Cancel or when the dialog cannot be shown.
    virtual bool portDialog(PortDialogRequest& request) = 0;
};

// The process's dialog library, loaded at the first call (kept loaded). When
// it cannot be loaded, or there is no display and QT_QPA_PLATFORM is unset,
// the returned UI answers every question with None / false. Never null.
SelectionUi& systemUi();

}  // namespace tavik::selection
