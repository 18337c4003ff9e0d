// Saving the screen image for the bitmap viewer: the view frame hidden while
// the target window is captured, "WindowImage.bmp" in the documents folder
// (else the data folder),
// the view-condition file beside it, and Bitora started on it.
#pragma once

#include <array>
#include <chrono>
#include <string>
#include <string_view>

#include "bitmapviewer/view_condition_file.h"
#include "screenviewer/settings/condition_slots.h"
#include "screenviewer/viewer.h"

namespace lumo {

struct ScreenImageRequest {
    bool whole = false;     // the whole-window variant of the condition file
    bool japanese = false;  // the image's Japanese file name
    int portIndex = 0;
    std::string modelName;
    std::array<tavik::lumo::ConditionSlot, 4> conditions{};
    std::string folder;     // documents folder; empty: from the environment
    bool startViewer = true;
};

struct ScreenImageResult {
    std::string imagePath;
    bool saved = false;          // image and condition file written
    int32_t viewerProcess = -1;  // Bitora's process, -1 when not started
};

// The condition file's values: the record's view, overview and condition and
// the stored conditions; `whole`: base 0, one pixel per pin, no overview, the
// condition without the stored ones.
bitora::ViewConditions viewConditionsFor(const ViewRecord& r, bool whole,
                                         const std::array<tavik::lumo::ConditionSlot, 4>& conditions);

// The condition file's text: the bitmap viewer's format; the whole-window
// variant without the stored-condition lines.
std::string conditionFileText(const ViewRecord& r, bool whole,
                              const std::array<tavik::lumo::ConditionSlot, 4>& conditions);

// The folder a screen image goes to: `documents` when it is a folder of this
// user's (absolute), else the suite's data folder ($XDG_DATA_HOME, default
// ~/.local/share, then Orvane/TAVIK200_J, made 0700 when new); empty when
// neither is to be had (never the current folder).
std::string screenImageFolder(const std::string& documents);

// Writes `text` to `path` through a fresh file beside it, renamed over it:
// never through a link or a file someone placed there, never half a file. A
// file of this user's that it replaces keeps its mode; a new one is 0600.
bool replaceFile(const std::string& path, std::string_view text);

// The bitmap viewer beside this program, else on PATH; empty when neither.
std::string findBitora();

// Blocks for the frame's wait (`frameWait`) and the capture; failures leave
// no viewer started and are told in the result.
ScreenImageResult saveScreenImage(Viewer& viewer, const ScreenImageRequest& request,
                                  std::chrono::milliseconds frameWait = std::chrono::seconds(1));

}  // namespace lumo
