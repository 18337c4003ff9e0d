// The bitmap viewer's state and behaviour while it is open: the record the
// application owns, the four dot panels and the dot map, the view
// arithmetic, the refresh that builds and sends the planes and the status
// cells, and every operation the keys and the gd calls trigger.
// Not thread-safe: the owner serialises calls (see gd_viewer.cpp).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>

#include "client/viewer/bitmap_viewer.h"
#include "client/viewer/broadcast_chords.h"
#include "client/viewer/condition_ops.h"
#include "client/viewer/display_sink.h"
#include "client/viewer/key_decode.h"
#include "client/viewer/operation_filter.h"
#include "client/viewer/position_strips.h"
#include "client/viewer/status_line.h"
#include "client/viewer/view_math.h"

namespace tavik::viewer {

// Writes a field of the application's record that the application reads on its
// own threads while the viewer runs (the view, the overview, the pointer and its mode,
// the refresh flag): atomic, so a reader never races the notification thread.
inline void publish(int32_t& field, int32_t value) {
    std::atomic_ref<int32_t>(field).store(value, std::memory_order_relaxed);
}

// The model index of a device name: "Pinora PX-1" 0, "Pinora New PX-2" 1,
// "Pinora PX-2" 2, "Notaro" 3, "QX-64X48" 4; -1 for any other name.
int modelIndexOf(const std::string& deviceName);

struct PanelFree {
    void operator()(DotPanel* p) const;
};
struct DotMapFree {
    void operator()(DotMap* m) const;
};
using PanelPtr = std::unique_ptr<DotPanel, PanelFree>;
using DotMapPtr = std::unique_ptr<DotMap, DotMapFree>;

constexpr int kMaxTextCells = 128;  // the slot's text row

// count x dots x division pixels, in 64 bits, bounded to a distance beyond any image
// (the applications' values may be anything).
int32_t scrollDistance(int64_t count, int64_t dots, int64_t division);
// The pointer report messages (bitmap_viewer.h).
constexpr int kMsgMove = GD_VIEWER_POINTER_MOVE, kMsgLeftDown = GD_VIEWER_POINTER_LEFT_DOWN,
              kMsgLeftUp = GD_VIEWER_POINTER_LEFT_UP, kMsgRightDown = GD_VIEWER_POINTER_RIGHT_DOWN,
              kMsgRightUp = GD_VIEWER_POINTER_RIGHT_UP;

class Viewer {
public:
    // Opens the record's image and shows it (steps after entering display mode).
    // nullptr for an unknown model, bad sizes, no memory or an image that cannot be opened.
    static std::unique_ptr<Viewer> open(BitmapViewerRecord& record, const PortInfo& port, DisplaySink& sink,
                                        const OperationFilter& filters, bool japanese);
    ~Viewer();  // closes the image, frees the panels and the map
    Viewer(const Viewer&) = delete;
    Viewer& operator=(const Viewer&) = delete;

    // ---- gd calls (1 success, 0 failure) ----
    int setViewPosition(int x, int y);
    int moveViewPosition(int dx, int dy, bool steps);
    int changeDivision(int division);
    int startOverview(bool frame);
    int endOverview();
    // false: the image could not be opened; the viewer must be closed.
    bool changeBitmap(LumoHBITMAP bitmap);
    bool realizeFromSource();

    // ---- device events (results as the callbacks give them) ----
    int displayKey(int t, int k, int m);
    int noteTakerKey(int t, int k, int m);
    int broadcast(int c, int v, int b);
    int dataBlock(int code, std::span<const uint8_t> bytes);
    // Runs a condition operation as the dialog does; 1 when it changed something.
    int conditionOperation(const ConditionOp& op);

    // True once an operation found that the image can no longer be opened.
    bool failed() const { return failed_; }

    // ---- state (tests, status) ----
    BitmapViewerRecord& record() { return rec_; }
    const Geometry& geometry() const { return geo_; }
    int maxDivision() const { return maxDivision_; }
    int statusScreen() const { return statusScreen_; }
    int statusPage() const { return page_; }
    int statusLayout() const { return layout_; }
    int stepX() const { return stepX_; }
    int stepY() const { return stepY_; }
    bool histogramSwitch() const { return histogramSwitch_; }
    int modelIndex() const { return model_; }
    const StatusLine& statusLine() const { return line_; }
    const DotPanel& imagePlane() const { return *image_; }
    const DotPanel& overlayPlane() const { return *overlay_; }
    KeyState keyState() const;
    // The view the arrows move: the detail view in the overview, else the view.
    View activeView() const;
    View mainView() const;

    void refreshView();

private:
    Viewer(BitmapViewerRecord& record, DisplaySink& sink, const PortInfo& port, int model,
           const OperationFilter& filters, bool japanese);

    // Image and condition.
    void resetWindows();
    // Resets the windows and brings division and view inside the image.
    void fitViewToImage();
    void realizeCondition();
    bool openImage();    // opens hSourceBitmap into the record's scan context
    void closeImage();   // closes the image this viewer opened
    bool reopenImage();
    void realizeAgain();  // reopen, pre-scan, refresh; marks failure
    void applyCondition(const ConditionOp& op);

    // Views.
    void setActive(const View& v);
    void setMain(const View& v);
    void zoomTo(int division, bool aboutPointer);
    void zoomCorner(int division, Corner corner);
    void scrollPixels(int dx, int dy);
    void overviewFrameOrOff();
    void overviewFrameToggle();

    // Pointer.
    void report(int message);
    void pointerOn();
    void pointerOff();
    void movePointer(int digit, bool big);
    void jumpPointer(int digit);
    void pointerClick(int buttons);
    void pointerDrag(int buttons);
    bool pointerInView() const;

    // Memories and the saved view.
    ConditionMemo takeMemo() const;
    // Puts the memo's condition back; the caller realizes it (the pixels must be scanned again).
    void giveMemo(const ConditionMemo& memo);
    void saveView();
    void restoreView();
    void chime(bool tableA);
    void reset();
    void statusCellKey(int k);

    int perform(const Action& a);

    // Drawing.
    void drawImageScreen();
    void drawFrame();
    void drawPointer();
    void sendPanels();
    void showStatusCells();

    BitmapViewerRecord& rec_;
    DisplaySink& sink_;
    PortInfo port_;
    int model_;
    OperationFilter filters_;
    bool japanese_;
    Geometry geo_;
    int maxDivision_ = 1;
    int stepX_ = 1, stepY_ = 1;
    int statusScreen_ = 0;
    int page_ = 0, layout_ = 0;
    bool histogramSwitch_ = false;
    bool failed_ = false;
    bool imageOpen_ = false;
    LumoHGLOBAL ownedDib_ = nullptr;  // the image block this viewer opened
    bool sentOnce_ = false;
    ChordMemory chords_;
    StripMemory strips_;
    StatusLine line_;
    std::array<uint8_t, kMaxTextCells> sentText_{};
    bool textSent_ = false;

    PanelPtr image_, overlay_, imageSent_, overlaySent_;
    DotMapPtr map_;
};

}  // namespace tavik::viewer
