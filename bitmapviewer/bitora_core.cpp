// The bitmap viewer program's logic (see bitora_core.h).
#include "bitmapviewer/bitora_core.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>

#include "client/tavikutil.h"
#include "client/ui/condition_dialog.h"

namespace bitora {

namespace {

// The library's mouse callback carries no context: the one open program core.
std::atomic<BitoraCore*> gMouseTarget{nullptr};

constexpr uint16_t kEffectBits = BIN_ERASE_GRID | BIN_OUTLINE | BIN_CHARACTER;

// The desktop's mouse, moved and clicked through the client library.
class DesktopMouse : public MouseOutput {
public:
    void move(unsigned long window, int x, int y) override { gdSendMouseMove(window, x, y, 1); }
    void press(unsigned long window, int x, int y, int buttons) override {
        gdStartMouseDrag(window, x, y, 1, buttons);
    }
    void release(unsigned long window, int x, int y, int buttons) override {
        gdSendMouseClick(window, x, y, 1, buttons);
    }
};

MouseOutput& desktopMouse() {
    static DesktopMouse mouse;
    return mouse;
}

// A bitmap of the image library owned by shared references (null stays null).
std::shared_ptr<LumoBitmap> shared(LumoBitmap* b) {
    if (!b) return {};
    return std::shared_ptr<LumoBitmap>(b, BitmapFree{});
}

// Fields the library writes on its own thread are read through this.
int32_t loadField(const int32_t& field) { return std::atomic_ref<const int32_t>(field).load(std::memory_order_relaxed); }

}  // namespace

BitoraCore::BitoraCore(WindowHost& host, DeviceSize device, LumoCtrlEntry entry, unsigned long windowId)
    : host_(host), device_(device), entry_(entry), windowId_(windowId), mouse_(&desktopMouse()) {}

void BitoraCore::setMouseOutput(MouseOutput* output) { mouse_ = output ? output : &desktopMouse(); }

BitoraCore::~BitoraCore() { closeFile(); }

bool BitoraCore::sendStartupCommand() {
    static constexpr unsigned char kData[5] = {0x01, 0x00, 0x00, 0x00, 0x01};
    if (!gdStartDirectOperation(nullptr)) return false;
    const int ok = gdPostDirectCommand(kStartupCommand, kStartupParameter, 5, kData);
    gdEndDirectOperation();
    return ok == 1;
}

std::optional<Properties> BitoraCore::properties(const std::string& path) {
    int32_t estimate = 0;
    const LumoBitmapInfoHeader* h = lumoGetDibProperties(path.c_str(), &estimate);
    if (!h) return std::nullopt;
    Properties p;
    p.width = h->biWidth;
    p.height = h->biHeight == INT32_MIN ? INT32_MAX : (h->biHeight < 0 ? -h->biHeight : h->biHeight);
    p.bitsPerPixel = h->biBitCount;
    p.workBytes = estimate;
    return p;
}

std::optional<BitmapViewerRecord> BitoraCore::snapshot() const {
    if (!record_) return std::nullopt;
    if (!viewerOpen_) return *record_;
    BitmapViewerRecord copy;
    if (gdCopyViewerRecord(&copy)) return copy;
    return *record_;  // the library closed the viewer: nothing writes the record any more
}

ViewConditions BitoraCore::currentConditions() const {
    ViewConditions v;
    const auto snap = snapshot();
    if (!snap) return v;
    const BitmapViewerRecord& r = *snap;
    v.nBaseX = r.viewLeft;
    v.nBaseY = r.viewTop;
    v.nDivX = r.cellWidth;
    v.nDivY = r.cellHeight;
    v.fOverview = r.overviewMode;
    v.fViewScope = r.overviewFrame;
    v.nViewBaseX = r.detailLeft;
    v.nViewBaseY = r.detailTop;
    v.nViewDivX = r.detailCellWidth;
    v.nViewDivY = r.detailCellHeight;
    const BinCondition& c = r.condition;
    v.fAutoThreshfold = c.fAutoThreshfold;
    v.bThreshfold = c.bThreshfold;
    v.bThreshfoldMin = c.bThreshfoldMin;
    v.bThreshfoldMax = c.bThreshfoldMax;
    v.bMode = c.bMode & ~BIN_PRESCANNED;
    for (size_t n = 0; n < 4; ++n) {
        const ConditionMemo& m = r.conditionMemos[n];
        StoredCondition& s = v.stored[n];
        s.flag = m.valid;
        s.fAutoThreshfold = m.fAutoThreshfold;
        s.bThreshfold = m.bThreshfold;
        s.bThreshfoldMin = m.bThreshfoldMin;
        s.bThreshfoldMax = m.bThreshfoldMax;
        s.bMode = m.bMode;
    }
    return v;
}

void BitoraCore::fillRecord(const ViewConditions& v) {
    BitmapViewerRecord& r = *record_;
    // In the overview the file holds the detail view; the overview is entered after opening.
    r.viewLeft = v.fOverview ? v.nViewBaseX : v.nBaseX;
    r.viewTop = v.fOverview ? v.nViewBaseY : v.nBaseY;
    r.cellWidth = v.fOverview ? v.nViewDivX : v.nDivX;
    r.cellHeight = v.fOverview ? v.nViewDivY : v.nDivY;
    BinCondition& c = r.condition;
    c.bMode = static_cast<uint16_t>(v.bMode & ~BIN_PRESCANNED);
    c.fAutoThreshfold = v.fAutoThreshfold;
    c.bThreshfold = static_cast<uint8_t>(v.bThreshfold);
    c.bThreshfoldMin = static_cast<uint8_t>(v.bThreshfoldMin);
    c.bThreshfoldMax = static_cast<uint8_t>(v.bThreshfoldMax);
    for (size_t n = 0; n < 4; ++n) {
        const StoredCondition& s = v.stored[n];
        ConditionMemo& m = r.conditionMemos[n];
        m = ConditionMemo{};
        if (!s.flag) continue;
        m.valid = 1;
        m.fAutoThreshfold = s.fAutoThreshfold;
        m.bThreshfold = static_cast<uint8_t>(s.bThreshfold);
        m.bThreshfoldMin = static_cast<uint8_t>(s.bThreshfoldMin);
        m.bThreshfoldMax = static_cast<uint8_t>(s.bThreshfoldMax);
        m.bMode = static_cast<uint16_t>(s.bMode);
    }
}

bool BitoraCore::openFile(const std::string& path) {
    LoadResult loaded = loadPicture(path, decoder_);
    if (!loaded.bitmap) {
        host_.reportFailure(WindowHost::Failure::Load, path, loaded.problem);
        return false;
    }
    std::shared_ptr<LumoBitmap> bitmap = shared(loaded.bitmap.release());
    closeFile();
    colour_ = std::move(bitmap);
    host_.fitImage(colour_->nWidth, colour_->nHeight);
    path_ = path;
    const size_t slash = path_.find_last_of('/');
    nameOffset_ = slash == std::string::npos ? 0 : slash + 1;
    host_.setFileTitle(fileName());

    record_ = std::make_unique<BitmapViewerRecord>();
    BitmapViewerRecord& r = *record_;
    r.hSourceBitmap = colour_.get();
    const int32_t params[10] = {kLineThickness, kHLineLength, kVLineLength, kDepthLimit};
    std::memcpy(r.scanParams, params, sizeof params);
    ViewConditions v;  // base (0, 0), one pixel per pin, no overview, no stored conditions
    v.bThreshfold = 128;
    v.bThreshfoldMin = v.bThreshfoldMax = 128;
    v.bMode = BIN_DARK;
    v.fAutoThreshfold = 1;
    readConditionFile(path_, colour_->nWidth, colour_->nHeight, v);
    fillRecord(v);
    r.mouseCallback = &BitoraCore::mouseCallback;
    gMouseTarget = this;
    if (!gdOpenBitmapViewer(&r)) {
        gMouseTarget = nullptr;
        host_.reportFailure(WindowHost::Failure::Buffer, path, LoadProblem{});
        record_.reset();
        colour_.reset();
        path_.clear();
        nameOffset_ = 0;
        host_.setFileTitle("");
        host_.requestRepaint();
        return false;
    }
    viewerOpen_ = true;
    if (v.fOverview) gdStartOverviewMode(v.fViewScope);
    if (const auto snap = snapshot()) {
        previewCondition_ = snap->condition;
        previewDivision_ = snap->cellWidth;
    }
    host_.requestRepaint();
    return true;
}

void BitoraCore::closeFile() {
    if (!colour_) return;
    writeConditionFile(path_, currentConditions());
    if (viewerOpen_) gdCloseBitmapViewer();
    viewerOpen_ = false;
    gMouseTarget = nullptr;
    record_.reset();
    preview_.reset();
    colour_.reset();
}

bool BitoraCore::saveAs(const std::string& path) {
    if (!colour_) return false;
    if (!lumoSaveBmp(colour_.get(), path.c_str())) return false;
    writeConditionFile(path, currentConditions());
    path_ = path;
    const size_t slash = path_.find_last_of('/');
    nameOffset_ = slash == std::string::npos ? 0 : slash + 1;
    host_.setFileTitle(fileName());
    return true;
}

// ---- menu commands ----

void BitoraCore::colourView() {
    if (!colour_) return;
    preview_.reset();
    host_.requestRepaint();
}

void BitoraCore::binaryView() {
    if (!colour_) return;
    rebuildPreview();
    host_.requestRepaint();
}

void BitoraCore::zoomIn() {
    if (!viewerOpen_) return;
    const auto snap = snapshot();
    const BitmapViewerRecord& r = *snap;
    const int d = r.overviewMode ? r.detailCellWidth : r.cellWidth;
    gdChangeDivision(d - 1);
    host_.requestRepaint();
}

void BitoraCore::zoomOut() {
    if (!viewerOpen_) return;
    const auto snap = snapshot();
    const BitmapViewerRecord& r = *snap;
    const int d = r.overviewMode ? r.detailCellWidth : r.cellWidth;
    gdChangeDivision(d + 1);
    host_.requestRepaint();
}

void BitoraCore::toggleOverview() {
    if (!viewerOpen_) return;
    if (snapshot()->overviewMode) gdEndOverviewMode();
    else gdStartOverviewMode(1);
    host_.requestRepaint();
}

void BitoraCore::setEffect(Effect e) {
    if (!viewerOpen_) return;
    uint16_t bit = 0;
    switch (e) {
        case Effect::None: bit = 0; break;
        case Effect::EraseGrid: bit = BIN_ERASE_GRID; break;
        case Effect::Outline: bit = BIN_OUTLINE; break;
        case Effect::Character: bit = BIN_CHARACTER; break;
    }
    // One step in the library: a threshold key pressed meanwhile is kept.
    gdSetViewerModeBits(kEffectBits, bit);
    host_.requestRepaint();
}

void BitoraCore::toggleSuspend() {
    suspended_ = !suspended_;
    gdSuspendDisplay(suspended_ ? 1 : 0);
    if (suspended_) {
        reportViewPosition();
        lumoSetFunctionMask(entry_, 0, 0x10000);
    } else {
        lumoSetFunctionMask(entry_, 0x10000, 0x10000);
    }
    host_.requestRepaint();
}

MenuState BitoraCore::menuState() const {
    MenuState m;
    m.suspended = suspended_;
    if (!colour_) return m;
    m.fileOpen = true;
    m.binaryView = preview_ != nullptr;
    if (const auto snap = snapshot()) {
        m.overview = snap->overviewMode != 0;
        const uint16_t mode = snap->condition.bMode;
        if (mode & BIN_ERASE_GRID) m.effect = Effect::EraseGrid;
        else if (mode & BIN_OUTLINE) m.effect = Effect::Outline;
        else if (mode & BIN_CHARACTER) m.effect = Effect::Character;
    }
    return m;
}

// ---- input ----

void BitoraCore::key(Key k, bool ctrl) {
    if (!viewerOpen_) return;
    const auto snap = snapshot();
    const BitmapViewerRecord& r = *snap;
    const int w = colour_->nWidth, h = colour_->nHeight;
    const bool ov = r.overviewMode != 0;
    const int left = ov ? r.detailLeft : r.viewLeft;
    const int top = ov ? r.detailTop : r.viewTop;
    const int div = ov ? r.detailCellWidth : r.cellWidth;
    switch (k) {
        case Key::PageUp: gdChangeDivision(div - 1); break;
        case Key::PageDown: gdChangeDivision(div + 1); break;
        case Key::Home: ctrl ? gdSetViewPosition(left, 0) : gdSetViewPosition(0, top); break;
        case Key::End: ctrl ? gdSetViewPosition(left, h - 1) : gdSetViewPosition(w - 1, top); break;
        case Key::Left: gdMoveViewPosition(-1, 0, ctrl); break;
        case Key::Up: gdMoveViewPosition(0, -1, ctrl); break;
        case Key::Right: gdMoveViewPosition(1, 0, ctrl); break;
        case Key::Down: gdMoveViewPosition(0, 1, ctrl); break;
        case Key::Pad1: gdMoveViewPosition(-1, 1, 0); break;
        case Key::Pad2: gdMoveViewPosition(0, 1, 0); break;
        case Key::Pad3: gdMoveViewPosition(1, 1, 0); break;
        case Key::Pad4: gdMoveViewPosition(-1, 0, 0); break;
        case Key::Pad6: gdMoveViewPosition(1, 0, 0); break;
        case Key::Pad7: gdMoveViewPosition(-1, -1, 0); break;
        case Key::Pad8: gdMoveViewPosition(0, -1, 0); break;
        case Key::Pad9: gdMoveViewPosition(1, -1, 0); break;
    }
    reportViewPosition();
    host_.requestRepaint();
}

void BitoraCore::pointAt(int clientX, int clientY) {
    if (!viewerOpen_) return;
    const int x = clientToImage(clientX, client_.width, colour_->nWidth);
    const int y = clientToImage(clientY, client_.height, colour_->nHeight);
    gdSetViewPosition(x, y);
    host_.requestRepaint();
}

void BitoraCore::reportViewPosition() {
    if (!suspended_ || !entry_ || !viewerOpen_) return;
    const auto snap = snapshot();
    const BitmapViewerRecord& r = *snap;
    const bool scope = r.overviewMode && r.overviewFrame;
    const int baseX = scope ? r.detailLeft : r.viewLeft;
    const int baseY = scope ? r.detailTop : r.viewTop;
    int32_t x = imageToClient(baseX, client_.width, colour_->nWidth) + client_.offsetX;
    int32_t y = imageToClient(baseY, client_.height, colour_->nHeight) + client_.offsetY;
    const int divX = scope ? r.detailCellWidth : r.cellWidth;
    const int divY = scope ? r.detailCellHeight : r.cellHeight;
    lumoSetViewPosition(entry_, &x, &y, divX, divY);
}

// ---- painting ----

void BitoraCore::setClientArea(const ClientArea& area) {
    client_ = area;
    clientWidth_ = area.width;
    clientHeight_ = area.height;
}

bool BitoraCore::rebuildPreview() {
    if (!colour_ || !record_) return false;
    preview_.reset();
    const auto snap = snapshot();  // the keys may change the record meanwhile
    if (!snap) return false;
    const BinCondition& condition = snap->condition;
    const int division = std::max(1, snap->cellWidth);
    // A scan of its own over the colour bitmap: the library's scan may be reopened at any time.
    ScanContext ctx{};
    ctx.dib.hBitmap = colour_.get();
    if (!lumoOpenDib(&ctx.dib)) return false;
    BinCondition scanned = condition;
    scanned.fAutoThreshfold = 0;  // the thresholds the viewer chose are the ones to show
    scanned.bMode &= static_cast<uint16_t>(~BIN_PRESCANNED);
    ctx.lpCondition = &scanned;
    ctx.nLimitX = ctx.nLimitY = -1;
    ctx.nCellWidth = ctx.nCellHeight = division;
    ctx.nHistRight = ctx.nHistBottom = -1;
    std::memcpy(&ctx.nLineThickness, snap->scanParams, sizeof(int32_t) * 4);
    lumoPreScan(&ctx);
    preview_ = shared(lumoCreateBinaryBitmap(&ctx));
    lumoCloseDib(&ctx.dib);
    previewCondition_ = condition;
    previewDivision_ = division;
    return preview_ != nullptr;
}

Picture BitoraCore::picture() {
    if (!colour_) return nullptr;
    if (preview_) {
        const auto snap = snapshot();
        const bool changed = snap && (std::memcmp(&previewCondition_, &snap->condition, sizeof(BinCondition)) != 0 ||
                                      previewDivision_ != snap->cellWidth);
        if (changed) rebuildPreview();
    }
    if (preview_) return preview_;
    return colour_;
}

std::optional<Rect> BitoraCore::viewRectangle() const {
    if (!viewerOpen_ || suspended_) return std::nullopt;
    const auto snap = snapshot();
    const BitmapViewerRecord& r = *snap;
    const bool scope = r.overviewMode && r.overviewFrame;
    if (scope)
        return viewRect(r.detailLeft, r.detailTop, r.detailCellWidth,
                        r.detailCellHeight, device_.pinColumns, device_.pinRows, colour_->nWidth,
                        colour_->nHeight);
    return viewRect(r.viewLeft, r.viewTop, r.cellWidth, r.cellHeight,
                    device_.pinColumns, device_.pinRows, colour_->nWidth, colour_->nHeight);
}

bool BitoraCore::takeRefreshed() {
    if (!record_) return false;
    return std::atomic_ref<int32_t>(record_->refreshed).exchange(0) != 0;
}

// ---- the library's mouse callback (notification thread) ----

void BitoraCore::mouseCallback(int message, int x, int y, int buttons) {
    if (BitoraCore* core = gMouseTarget.load()) core->onMouse(message, x, y, buttons);
}

void BitoraCore::onMouse(int message, int x, int y, int buttons) {
    const BitmapViewerRecord* r = record_.get();
    if (!r) return;
    const int cw = clientWidth_, ch = clientHeight_;
    const int iw = loadField(r->imageWidth), ih = loadField(r->imageHeight);
    const int cx = imageToClient(x, cw, iw), cy = imageToClient(y, ch, ih);
    MouseOutput& mouse = *mouse_.load();
    switch (message) {
        case GD_VIEWER_POINTER_MOVE: mouse.move(windowId_, cx, cy); break;
        case GD_VIEWER_POINTER_LEFT_DOWN:
        case GD_VIEWER_POINTER_RIGHT_DOWN: mouse.press(windowId_, cx, cy, buttons); break;
        case GD_VIEWER_POINTER_LEFT_UP:
        case GD_VIEWER_POINTER_RIGHT_UP: mouse.release(windowId_, cx, cy, buttons); break;
        default: break;
    }
}

}  // namespace bitora
