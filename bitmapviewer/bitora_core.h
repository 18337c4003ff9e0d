// The bitmap viewer program without its window: the open file, the viewer
// record handed to the client library, the preview, the view-condition file,
// the menu commands and keys as client-library calls, suspension, the
// view-position reports and the library's mouse callback. The window (Qt, in
// ui/) owns one BitoraCore and tells it what the user did through a WindowHost.
// All calls come from the window's thread except the mouse callback. While the
// viewer is open the library's key thread owns the record: the core reads it
// through the library's copy and changes the condition through its calls.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "bitmapviewer/picture_loader.h"
#include "bitmapviewer/view_condition_file.h"
#include "bitmapviewer/view_geometry.h"
#include "client/viewer/bitmap_viewer.h"
#include "imaging/lumoutil.h"
#include "outside/viewctrl/lumoctrl.h"

namespace bitora {

// What the core needs of the window.
class WindowHost {
public:
    virtual ~WindowHost() = default;
    enum class Failure { Load, Buffer };
    // Shows a failure message for `path` (modal; returns when dismissed); `why`
    // says what went wrong with a load (Reason::None for a buffer failure).
    virtual void reportFailure(Failure what, const std::string& path, const LoadProblem& why) = 0;
    // Sizes the window for an image of w x h pixels and centres it.
    virtual void fitImage(int w, int h) = 0;
    // Sets the title for the open file's name ("" : no file).
    virtual void setFileTitle(const std::string& fileName) = 0;
    // Schedules a repaint.
    virtual void requestRepaint() = 0;
};

// Where the viewer's pointer reports end up, in client coordinates of the
// window: the desktop's mouse through the client library, unless replaced.
// Called on the library's notification thread; must not block for long.
class MouseOutput {
public:
    virtual ~MouseOutput() = default;
    virtual void move(unsigned long window, int x, int y) = 0;
    virtual void press(unsigned long window, int x, int y, int buttons) = 0;    // starts a drag
    virtual void release(unsigned long window, int x, int y, int buttons) = 0;  // a click; 0 ends a drag
};

struct DeviceSize {
    int textCells = 0, pinColumns = 0, pinRows = 0;
};

// The client area as the library's reports need it.
struct ClientArea {
    int width = 0, height = 0;   // client size in pixels
    int offsetX = 0, offsetY = 0;  // client origin inside the window
};

enum class Key { PageUp, PageDown, Home, End, Left, Up, Right, Down, Pad1, Pad2, Pad3, Pad4, Pad6, Pad7, Pad8, Pad9 };

enum class Effect { None, EraseGrid, Outline, Character };

struct MenuState {
    bool fileOpen = false;
    bool binaryView = false;
    bool overview = false;
    bool suspended = false;
    Effect effect = Effect::None;
};

struct Properties {
    int width = 0, height = 0, bitsPerPixel = 0;
    int64_t workBytes = 0;
};

// A picture shared with whoever draws or prints it: a rebuilt preview or a new
// file does not free the one still in use.
using Picture = std::shared_ptr<const LumoBitmap>;

// Pre-scan parameters of the program's viewer record.
constexpr int32_t kLineThickness = 2, kHLineLength = 64, kVLineLength = 40, kDepthLimit = 10;

// The device start-up command sent before a file is shown.
constexpr int kStartupCommand = 229, kStartupParameter = 19;

class BitoraCore {
public:
    BitoraCore(WindowHost& host, DeviceSize device, LumoCtrlEntry entry, unsigned long windowId);
    ~BitoraCore();  // closes the viewer (writing the view-condition file)
    BitoraCore(const BitoraCore&) = delete;
    BitoraCore& operator=(const BitoraCore&) = delete;

    // ---- files ----
    // Loads the picture (BMP through the image library, other formats through
    // the picture decoder) and shows it; on failure reports it with its reason
    // and keeps the previous file.
    bool openFile(const std::string& path);
    // The reader of formats other than BMP (null: BMP only). Must outlive the core.
    void setPictureDecoder(PictureDecoder* decoder) { decoder_ = decoder; }
    // Saves the colour bitmap under `path` with its view-condition file; the new
    // name becomes the open file. false (nothing changed) on failure.
    bool saveAs(const std::string& path);
    // Writes the open file's view-condition file and closes the viewer.
    void closeFile();
    // Sends the device start-up command (inside a direct operation); false when it could not be sent.
    static bool sendStartupCommand();
    static std::optional<Properties> properties(const std::string& path);

    // ---- menu commands (effective only with a file open) ----
    void colourView();
    void binaryView();
    void zoomIn();
    void zoomOut();
    void toggleOverview();
    void setEffect(Effect e);
    void toggleSuspend();
    MenuState menuState() const;

    // ---- input ----
    void key(Key k, bool ctrl);
    // A left click or a drag at a client point.
    void pointAt(int clientX, int clientY);

    // ---- painting ----
    void setClientArea(const ClientArea& area);
    // The picture to paint: the preview (rebuilt when the condition or the scale
    // changed) or the colour bitmap; null without a file. The reference keeps it
    // alive for as long as the caller holds it (a print outlives repaints).
    Picture picture();
    // The view rectangle in image pixels (the detail view in the overview with
    // its frame on); nullopt without a file or while suspended.
    std::optional<Rect> viewRectangle() const;
    // True once after the library refreshed the view (polled by the window's timer).
    bool takeRefreshed();

    // ---- state ----
    bool fileOpen() const { return colour_ != nullptr; }
    // The colour bitmap (the viewer's source); null without a file.
    LumoBitmap* colourBitmap() const { return colour_.get(); }
    const std::string& path() const { return path_; }
    std::string fileName() const { return path_.substr(nameOffset_); }
    bool suspended() const { return suspended_; }
    // The record handed to the library (tests); while the viewer is open, read it only
    // between keys or through gdCopyViewerRecord.
    const BitmapViewerRecord* record() const { return record_.get(); }
    ViewConditions currentConditions() const;
    LumoCtrlEntry entry() const { return entry_; }

    // Replaces the desktop's mouse as the target of pointer reports (null: the desktop's
    // again). Call while no device key is being handled (before opening a file).
    void setMouseOutput(MouseOutput* output);

    // Reports the view position to the view-control library (only while suspended).
    void reportViewPosition();

private:
    void fillRecord(const ViewConditions& v);
    // The record as it stands between two device keys: a copy taken under the viewer's lock
    // while the viewer is open, else the record itself; nullopt without a file.
    std::optional<BitmapViewerRecord> snapshot() const;
    bool rebuildPreview();
    static void mouseCallback(int message, int x, int y, int buttons);
    void onMouse(int message, int x, int y, int buttons);

    WindowHost& host_;
    PictureDecoder* decoder_ = nullptr;
    DeviceSize device_;
    LumoCtrlEntry entry_;
    unsigned long windowId_;

    std::string path_;
    size_t nameOffset_ = 0;
    std::shared_ptr<LumoBitmap> colour_;
    std::shared_ptr<LumoBitmap> preview_;
    std::unique_ptr<BitmapViewerRecord> record_;
    bool viewerOpen_ = false;
    // What the preview was made from, to notice changes.
    BinCondition previewCondition_{};
    int previewDivision_ = 0;
    bool suspended_ = false;

    std::atomic<MouseOutput*> mouse_;
    std::atomic<int> clientWidth_{0}, clientHeight_{0};
    ClientArea client_{};
};

}  // namespace bitora
