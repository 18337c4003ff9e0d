// The device input of the screen viewer (see key_handling.h): context,
// decoding, and the actions carried out on the core.
#include "screenviewer/key_handling.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "client/tavikutil.h"
#include "screenviewer/keys/condition_keys.h"
#include "screenviewer/keys/key_decode.h"
#include "screenviewer/keys/tones.h"

namespace lumo {

namespace {

using keys::KeyAct;

std::atomic<KeyHandler*> gHandler{nullptr};
// Set while this thread carries out the handler's own actions.
thread_local bool tInHandler = false;

struct InHandler {
    bool was = tInHandler;
    InHandler() { tInHandler = true; }
    ~InHandler() { tInHandler = was; }
};

void keyCallback(int g, int k, int m) {
    if (KeyHandler* h = gHandler.load()) h->onKey(g, k, m);
}
void noteTakerCallback(int b0, int b1, int b2) {
    if (KeyHandler* h = gHandler.load()) h->onNoteTakerKey(b0, b1, b2);
}
void broadcastCallback(int bits, int hold, int previous) {
    if (KeyHandler* h = gHandler.load()) h->onBroadcast(bits, hold, previous);
}
void dataCallback(int code, int count, const unsigned char* data) {
    KeyHandler* h = gHandler.load();
    if (!h || !data || count <= 0 || count > 0xFFFF) return;
    h->onData(code, std::span<const uint8_t>(data, size_t(count)));
}
void penCallback(int e, int x, int y, int buttons) {
    if (KeyHandler* h = gHandler.load()) h->onPen(e, x, y, buttons);
}

lumo::ZoomAnchor coreAnchor(keys::ZoomAnchor a) {
    switch (a) {
    case keys::ZoomAnchor::TopLeft: return lumo::ZoomAnchor::TopLeft;
    case keys::ZoomAnchor::Right: return lumo::ZoomAnchor::Right;
    case keys::ZoomAnchor::Bottom: return lumo::ZoomAnchor::Bottom;
    case keys::ZoomAnchor::RightBottom: return lumo::ZoomAnchor::RightBottom;
    case keys::ZoomAnchor::Mouse: return lumo::ZoomAnchor::Point;
    case keys::ZoomAnchor::Centre: break;
    }
    return lumo::ZoomAnchor::Centre;
}

// The effect bits of a condition mode.
constexpr uint16_t kEffectBits = BIN_ERASE_GRID | BIN_OUTLINE | BIN_CHARACTER;

}  // namespace

InputPorts clientLibraryPorts() {
    InputPorts p;
    p.mouseMove = [](WindowId w, int32_t x, int32_t y) { gdSendMouseMove(TavikWindow(w), x, y, 0); };
    p.mouseClick = [](WindowId w, int32_t x, int32_t y, int b) { gdSendMouseClick(TavikWindow(w), x, y, 0, b); };
    p.mouseDrag = [](WindowId w, int32_t x, int32_t y, int b) { gdStartMouseDrag(TavikWindow(w), x, y, 0, b); };
    p.mouseState = [](WindowId w) -> std::optional<keys::PointerReading> {
        int inside = 0, x = 0, y = 0;
        const int moved = gdGetMouseState(TavikWindow(w), 0, &inside, &x, &y);
        // 0 also stands for "cannot be read": the outputs then stay as they were (inside 0).
        return keys::PointerReading{moved == 1, inside == 1, {x, y}};
    };
    p.directCommand = [](int command, int parameter, std::span<const uint8_t> data) {
        if (gdStartDirectOperation(nullptr) != 1) return;
        gdPostDirectCommand(command, parameter, int(data.size()), data.data());
        gdEndDirectOperation();
    };
    return p;
}

KeyHandler::KeyHandler(Viewer& viewer, InputPorts ports, bool japanese)
    : viewer_(viewer), ports_(std::move(ports)), japanese_(japanese) {
    stepX_ = std::max(1, viewer_.pins().columns / 2);
    stepY_ = std::max(1, viewer_.pins().rows / 2);
    viewer_.drawInfoPage = [this](const ViewRecord& r, DotPanel& p) { return drawInfoPage(r, p); };
    viewer_.drawOverlays = [this](const ViewRecord& r, DotPanel& m, DotPanel& l) { drawOverlays(r, m, l); };
    viewer_.buildTextLine = [this](const ViewRecord& r, TextLine& line) { buildTextLine(r, line); };
    viewer_.followMouse = [this] { return followRealMouse(); };
    previousModesChanged_ = viewer_.onModesChanged;
    viewer_.onModesChanged = [this] {
        if (previousModesChanged_) previousModesChanged_();
        if (!tInHandler) followRecord();
    };
}

KeyHandler::~KeyHandler() {
    KeyHandler* self = this;
    gHandler.compare_exchange_strong(self, nullptr);
    viewer_.drawInfoPage = nullptr;
    viewer_.drawOverlays = nullptr;
    viewer_.buildTextLine = nullptr;
    viewer_.followMouse = nullptr;
    viewer_.onModesChanged = previousModesChanged_;
}

void KeyHandler::activate() { gHandler = this; }

void KeyHandler::deactivate() {
    KeyHandler* self = this;
    gHandler.compare_exchange_strong(self, nullptr);
}

void KeyHandler::registerCallbacks(int modelCode) {
    if (modelCode == keys::kModelNoteTaker) {
        gdStartDisplayMode(2, noteTakerCallback, nullptr, nullptr);
        return;
    }
    gdStartDisplayMode(2, keyCallback, broadcastCallback, dataCallback);
    gdSetPenEventCallback(penCallback);
}

// ---- Context ----

keys::KeyContext KeyHandler::context() {
    std::lock_guard lock(m_);
    return contextLocked();
}

keys::KeyContext KeyHandler::contextLocked() {
    keys::KeyContext c;
    const ViewRecord r = viewer_.currentView();
    const DeviceConfig& d = viewer_.device();
    c.filters = filters_;
    c.locked = locked_;
    c.recordExcluded = (r.flags & kRecordExcluded) != 0;
    c.infoPage = infoPage_;
    c.modelCode = d.modelCode;
    c.pinColumns = d.pins.columns;
    c.pinRows = d.pins.rows;
    c.stepX = stepX_;
    c.stepY = stepY_;
    c.maxCellPixels = d.maxCellPixels;
    c.baseX = r.baseX;
    c.baseY = r.baseY;
    c.cellWidth = saneCell(r.cellWidth);
    c.cellHeight = saneCell(r.cellHeight);
    c.scopeCellWidth = saneCell(r.scopeCellWidth);
    c.overview = r.overview != 0;
    c.viewScope = r.overview != 0 && r.viewScope != 0;
    c.bMode = r.condition.bMode;
    c.fAutoThreshfold = r.condition.fAutoThreshfold != 0;
    for (size_t i = 0; i < 3; ++i) c.bookmarkUsed[i] = r.bookmarkUsed[i] != 0;
    c.clientRectValid = viewer_.clientRectKnown();
    c.scanningMode = int(viewer_.scanningMode());
    c.mouseSync = viewer_.mouseSync();
    c.mouseEmulation = emu_.on;
    c.penDrag = penDrag_;
    c.mouseX = emu_.mouse.x;
    c.mouseY = emu_.mouse.y;
    c.cursorShape = viewer_.cursorShapeView();
    for (size_t i = 0; i < 4; ++i) c.conditionFilled[i] = conditions_[i].fData != 0;
    c.textLinePage = textLinePage_;
    c.subSelector = subSelector_;
    return c;
}

// ---- Events ----

template <class Decode>
void KeyHandler::decodeKeyAndRun(Decode decode) {
    std::lock_guard serial(eventMutex_);
    keys::ActionList a;
    {
        std::lock_guard lock(m_);
        if (!(viewer_.currentView().flags & kRecordExcluded)) viewer_.fitCurrentToWindow();
        a = decode(contextLocked());
    }
    run(a);
}

void KeyHandler::onKey(int group, int key, int modifier) {
    decodeKeyAndRun([&](const keys::KeyContext& c) { return keys::decodeKey(group, key, modifier, c); });
}

void KeyHandler::onNoteTakerKey(int b0, int b1, int b2) {
    decodeKeyAndRun([&](const keys::KeyContext& c) { return keys::decodeNoteTakerKey(b0, b1, b2, c); });
}

void KeyHandler::onBroadcast(int bits, int hold, int previous) {
    std::lock_guard serial(eventMutex_);
    keys::ActionList a;
    {
        std::lock_guard lock(m_);
        const keys::KeyContext c = contextLocked();
        if (c.recordExcluded || c.locked) return;
        a = keys::onShiftBroadcast(shift_, bits & 0xFF, hold, previous & 0xFF, c);
    }
    run(a);
}

void KeyHandler::onData(int code, std::span<const uint8_t> bytes) {
    std::lock_guard serial(eventMutex_);
    keys::ActionList a;
    {
        std::lock_guard lock(m_);
        const keys::KeyContext c = contextLocked();
        if (c.recordExcluded || c.locked) return;
        a = keys::onStripData(strips_, code, bytes, c);
    }
    run(a);
}

void KeyHandler::onPen(int event, int x, int y, int buttons) {
    std::lock_guard serial(eventMutex_);
    keys::ActionList a;
    {
        std::lock_guard lock(m_);
        const keys::KeyContext c = contextLocked();
        if (c.recordExcluded) return;
        a = keys::onPen(event, x, y, buttons, c);
    }
    run(a);
}

void KeyHandler::run(const keys::ActionList& actions) {
    if (actions.empty()) return;
    for (const keys::KeyAction& a : actions) {
        // These two wait for other threads: never with the state held.
        if (a.act == KeyAct::DialogCommand) {
            if (ports_.dialogCommand) ports_.dialogCommand(a.value);
            continue;
        }
        if (a.act == KeyAct::SaveScreenImage) {
            if (ports_.saveScreenImage) ports_.saveScreenImage(a.value != 0);
            continue;
        }
        std::lock_guard lock(m_);
        InHandler inHandler;
        perform(a);
    }
    {
        std::lock_guard lock(m_);
        viewer_.editCurrent([&](const ViewRecord& r, int i) {
            lastRecord_ = i;
            lastCapture_ = r.captureWindow;
        });
    }
    viewer_.publishView();
}

void KeyHandler::followRecord() {
    {
        std::lock_guard lock(m_);
        const bool moved = viewer_.editCurrent([&](ViewRecord& r, int i) {
            const bool changed = i != lastRecord_ || r.captureWindow != lastCapture_;
            lastRecord_ = i;
            lastCapture_ = r.captureWindow;
            if (!changed || !emu_.on) return false;
            keys::ViewRect v = viewRectOf(r);
            const keys::ViewGrid g = gridOf(r);
            keys::MousePoint p{
                int32_t(std::clamp<int64_t>(v.baseX + int64_t(g.pinColumns) * v.cellWidth / 2, 0, INT32_MAX)),
                int32_t(std::clamp<int64_t>(v.baseY + int64_t(g.pinRows) * v.cellHeight / 2, 0, INT32_MAX))};
            keys::containPoint(v, g, p);
            writeViewRect(r, v);
            emu_.mouse = p;
            emu_.known = true;
            return true;
        });
        if (!moved) return;
        moveMouse();
    }
    viewer_.publishView();
}

// ---- Views ----

keys::ViewRect KeyHandler::viewRectOf(const ViewRecord& r) const {
    if (r.overview)
        return {r.scopeX, r.scopeY, saneCell(r.scopeCellWidth), saneCell(r.scopeCellHeight)};
    return {r.baseX, r.baseY, saneCell(r.cellWidth), saneCell(r.cellHeight)};
}

void KeyHandler::writeViewRect(ViewRecord& r, const keys::ViewRect& v) const {
    if (r.overview) {
        r.scopeX = v.baseX;
        r.scopeY = v.baseY;
        r.scopeCellWidth = v.cellWidth;
        r.scopeCellHeight = v.cellHeight;
    } else {
        r.baseX = v.baseX;
        r.baseY = v.baseY;
        r.cellWidth = v.cellWidth;
        r.cellHeight = v.cellHeight;
    }
}

bool KeyHandler::bookmark(int n, bool recall) {
    if (n < 0 || n > 2) return false;
    const int32_t maxCell = viewer_.device().maxCellPixels;
    return viewer_.editCurrent([&](ViewRecord& r, int) {
        const size_t i = size_t(n);
        // The bookmark as the bookmark rules take it: its bytes copied out of the record and back.
        keys::BookmarkView view;
        keys::ConditionSlot slot;
        std::memcpy(&view, r.bookmarkViews[i], sizeof view);
        std::memcpy(&slot, r.bookmarkConditions[i], sizeof slot);
        if (!recall) {
            keys::storeBookmark(r.bookmarkUsed[i], view, slot, viewRectOf(r), r.condition);
            std::memcpy(r.bookmarkViews[i], &view, sizeof view);
            std::memcpy(r.bookmarkConditions[i], &slot, sizeof slot);
            return false;
        }
        keys::ViewRect v = viewRectOf(r);
        if (!keys::recallBookmark(r.bookmarkUsed[i], view, slot, maxCell, v, r.condition)) return false;
        writeViewRect(r, v);
        return true;
    });
}

keys::ViewGrid KeyHandler::gridOf(const ViewRecord& r) const {
    return {viewer_.pins().columns, viewer_.pins().rows, std::max(r.imageWidth, 1), std::max(r.imageHeight, 1)};
}

void KeyHandler::moveMouse() {
    if (ports_.mouseMove) ports_.mouseMove(viewer_.targetWindow(), emu_.mouse.x, emu_.mouse.y);
    updateMouseText();
}

void KeyHandler::updateMouseText() {
    std::string text;
    if (emu_.on) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "X:%d, Y:%d (pixels)", emu_.mouse.x, emu_.mouse.y);
        text = buf;
    }
    if (text == lastMouseText_) return;
    lastMouseText_ = text;
    if (ports_.mouseText) ports_.mouseText(text);
}

void KeyHandler::mouseAction(
    const std::function<void(keys::ViewRect&, const keys::ViewGrid&, keys::MousePoint&)>& f) {
    viewer_.editCurrent([&](ViewRecord& r, int) {
        keys::ViewRect v = viewRectOf(r);
        f(v, gridOf(r), emu_.mouse);
        writeViewRect(r, v);
    });
    emu_.known = true;
    moveMouse();
    viewer_.viewChanged();
}

void KeyHandler::zoomTo(int32_t cell, keys::ZoomAnchor anchor) {
    const bool done = viewer_.editCurrent([&](ViewRecord& r, int) {
        lumo::ZoomAnchor a = lumo::ZoomAnchor::Centre;
        if (anchor == keys::ZoomAnchor::Mouse && emu_.known && keys::pointInView(viewRectOf(r), gridOf(r), emu_.mouse))
            a = lumo::ZoomAnchor::Point;
        return lumo::zoom(r, cell, a, viewer_.pins(), emu_.mouse.x, emu_.mouse.y);
    });
    if (done) viewer_.viewChanged();
}

void KeyHandler::startEmulationLocked(int buttons) {
    if (!filters_.mouseEmulation) return;
    const keys::MouseOps ops = viewer_.editCurrent([&](const ViewRecord& r, int i) {
        return keys::startEmulation(emu_, savedFor(i), penDrag_, buttons, viewRectOf(r), gridOf(r));
    });
    const WindowId w = viewer_.targetWindow();
    for (size_t i = 0; i < ops.count; ++i) {
        const keys::MouseOp& op = ops.ops[i];
        switch (op.kind) {
        case keys::MouseOp::Kind::Move: if (ports_.mouseMove) ports_.mouseMove(w, op.at.x, op.at.y); break;
        case keys::MouseOp::Kind::Press: if (ports_.mouseDrag) ports_.mouseDrag(w, op.at.x, op.at.y, op.buttons); break;
        case keys::MouseOp::Kind::Release: if (ports_.mouseDrag) ports_.mouseDrag(w, op.at.x, op.at.y, 0); break;
        }
    }
    if (ports_.emulationBox) ports_.emulationBox(emu_.on);
    updateMouseText();
}

keys::SavedMouse& KeyHandler::savedFor(int i) {
    const size_t k = size_t(std::clamp(i, 0, kRecordCount - 1));
    const uint32_t epoch = viewer_.recordEpoch(int(k));
    if (savedEpoch_[k] != epoch) {
        saved_[k] = {};
        savedEpoch_[k] = epoch;
    }
    return saved_[k];
}

void KeyHandler::stopEmulationLocked() {
    auto& saved = savedFor(viewer_.currentIndex());
    const keys::MouseOps ops = keys::stopEmulation(emu_, saved);
    const WindowId w = viewer_.targetWindow();
    for (size_t i = 0; i < ops.count; ++i) {
        const keys::MouseOp& op = ops.ops[i];
        if (op.kind == keys::MouseOp::Kind::Release && ports_.mouseDrag) ports_.mouseDrag(w, op.at.x, op.at.y, 0);
        if (op.kind == keys::MouseOp::Kind::Move && ports_.mouseMove) ports_.mouseMove(w, op.at.x, op.at.y);
    }
    if (ports_.emulationBox) ports_.emulationBox(false);
    updateMouseText();
}

void KeyHandler::playTone(keys::Tone tone) {
    if (!ports_.directCommand) return;
    const int model = viewer_.device().modelCode;
    if (model != keys::kModelDisplay48 && model != keys::kModelUsb48) return;
    keys::ToneCommand cmd;
    if (!keys::toneCommand(keys::toneSequence(tone), cmd)) return;
    ports_.directCommand(cmd.command, cmd.parameter, cmd.bytes());
}

void KeyHandler::perform(const keys::KeyAction& a) {
    const Pins pins = viewer_.pins();
    switch (a.act) {
    case KeyAct::Publish:
    case KeyAct::DialogCommand:
    case KeyAct::SaveScreenImage:
        break;
    case KeyAct::PanBy: {
        // The long steps move the ViewScope rectangle by scope cells in overview.
        if (a.longStep && viewer_.currentView().overview) viewer_.panScope(a.x, a.y);
        else viewer_.pan(a.x, a.y);
        break;
    }
    case KeyAct::Jump:
        if (a.value >= 1 && a.value <= 9) viewer_.jumpTo(a.value);
        break;
    case KeyAct::Zoom: {
        const ViewRecord r = viewer_.currentView();
        lumo::ZoomAnchor anchor = coreAnchor(a.anchor);
        if (anchor == lumo::ZoomAnchor::Point && !(emu_.known && keys::pointInView(viewRectOf(r), gridOf(r), emu_.mouse)))
            anchor = lumo::ZoomAnchor::Centre;
        if (a.value) viewer_.zoomOut(anchor, emu_.mouse.x, emu_.mouse.y);
        else viewer_.zoomIn(anchor, emu_.mouse.x, emu_.mouse.y);
        break;
    }
    case KeyAct::ZoomTo:
        zoomTo(a.value, a.anchor);
        break;
    case KeyAct::FineZoom: {
        const ViewRecord r = viewer_.currentView();
        if (r.overview && emu_.on) break;
        const int32_t c = saneCell(r.overview ? r.scopeCellWidth : r.cellWidth) + (a.value < 0 ? -1 : 1);
        if (c < 1 || c >= viewer_.device().maxCellPixels) break;
        zoomTo(c, a.anchor);
        break;
    }
    case KeyAct::ZoomAtMouse: {
        const bool done = viewer_.editCurrent([&](ViewRecord& r, int) {
            if (r.overview) return false;
            keys::ViewRect v = viewRectOf(r);
            if (!keys::zoomAtMouse(v, gridOf(r), emu_.mouse, a.value != 0, viewer_.device().maxCellPixels, false))
                return false;
            writeViewRect(r, v);
            return true;
        });
        if (done) viewer_.viewChanged();
        break;
    }
    case KeyAct::Condition:
        viewer_.editCurrent([&](ViewRecord& r, int) { keys::applyKeyCondition(r.condition, a.cond); });
        break;
    case KeyAct::ToggleOverview: viewer_.toggleOverview(); break;
    case KeyAct::ToggleViewScope: viewer_.toggleViewScope(); break;
    case KeyAct::LeaveOverview: {
        const bool left = viewer_.editCurrent([](ViewRecord& r, int) {
            if (!r.overview) return false;
            leaveOverview(r);
            return true;
        });
        if (left) viewer_.viewChanged();
        break;
    }
    case KeyAct::ClientOverview: viewer_.clientOverview(a.value != 0); break;
    case KeyAct::PlaceOnFocus: viewer_.placeOnFocusNext(); break;
    case KeyAct::WholeScreenFromWindow: viewer_.wholeScreenFromWindow(); break;
    case KeyAct::StartEmulation: startEmulationLocked(a.value); break;
    case KeyAct::StopEmulation: stopEmulationLocked(); break;
    case KeyAct::MouseStep: {
        if (a.value < 1 || a.value > 9) break;
        const int sx = stepX_, sy = stepY_;
        mouseAction([&](keys::ViewRect& v, const keys::ViewGrid& g, keys::MousePoint& p) {
            keys::mouseStep(v, g, p, a.value, a.kind, sx, sy);
        });
        break;
    }
    case KeyAct::MouseJump:
        if (a.value < 1 || a.value > 9) break;
        mouseAction([&](keys::ViewRect& v, const keys::ViewGrid& g, keys::MousePoint& p) {
            keys::mouseJump(v, g, p, a.value);
        });
        break;
    case KeyAct::MouseToViewPin:
        mouseAction([&](keys::ViewRect& v, const keys::ViewGrid& g, keys::MousePoint& p) {
            keys::mouseToViewPin(v, g, p, a.value, a.x);
        });
        break;
    case KeyAct::MouseClick:
        if (ports_.mouseClick) ports_.mouseClick(viewer_.targetWindow(), a.x, a.y, a.value & 3);
        break;
    case KeyAct::MouseHold:
        if (ports_.mouseDrag) ports_.mouseDrag(viewer_.targetWindow(), a.x, a.y, a.value & 3);
        break;
    case KeyAct::MouseRelease:
        if (ports_.mouseDrag) ports_.mouseDrag(viewer_.targetWindow(), a.x, a.y, 0);
        break;
    case KeyAct::MouseMove:
        emu_.mouse = {a.x, a.y};
        emu_.known = true;
        moveMouse();
        break;
    case KeyAct::SaveMousePosition:
        savedFor(viewer_.currentIndex()) = {true, {a.x, a.y}};
        break;
    case KeyAct::PenDrag:
        penDrag_ = a.value != 0;
        break;
    case KeyAct::BookmarkStore:
        bookmark(a.value, false);
        break;
    case KeyAct::BookmarkRecall:
        if (bookmark(a.value, true)) viewer_.viewChanged();
        break;
    case KeyAct::ConditionStore:
        if (a.value >= 0 && a.value < 4)
            viewer_.editCurrent([&](const ViewRecord& r, int) { keys::storeCondition(conditions_[size_t(a.value)], r.condition); });
        break;
    case KeyAct::ConditionRecall:
        if (a.value >= 0 && a.value < 4)
            viewer_.editCurrent([&](ViewRecord& r, int) { keys::recallCondition(conditions_[size_t(a.value)], r.condition); });
        break;
    case KeyAct::PlayTone: playTone(a.tone); break;
    case KeyAct::SetCursorShape: viewer_.setCursorShapeView(a.value != 0); break;
    case KeyAct::SetLock: locked_ = a.value != 0; break;
    case KeyAct::SetInfoPage:
        if (a.value >= keys::kPageHistogram && a.value <= keys::kPageStep) infoPage_ = a.value;
        break;
    case KeyAct::SetSteps:
        stepX_ = std::clamp(a.x, 1, pins.columns);
        stepY_ = std::clamp(a.y, 1, pins.rows);
        break;
    case KeyAct::ToggleLargeHistogram: largeHistogram_ = !largeHistogram_; break;
    case KeyAct::SetEffect:
        viewer_.editCurrent([&](ViewRecord& r, int) {
            BinCondition& c = r.condition;
            c.bMode = uint16_t((c.bMode & ~kEffectBits) | (uint32_t(a.value) & kEffectBits));
        });
        break;
    case KeyAct::SetTextLinePage:
        if (a.value >= 0 && a.value < 6) textLinePage_ = a.value;
        break;
    case KeyAct::SetSubSelector:
        if (a.value >= 0 && a.value < 3) subSelector_ = a.value;
        break;
    }
}

// ---- Dialog operations ----

void KeyHandler::conditionCommand(int id) {
    if (id < 275 || id > 280) return;
    {
        std::lock_guard lock(m_);
        InHandler inHandler;
        viewer_.editCurrent([&](ViewRecord& r, int) {
            BinCondition& c = r.condition;
            using tavik::viewer::CondOp;
            switch (id) {
            case 275: c.fAutoThreshfold = 0; keys::applyKeyCondition(c, {CondOp::ThresholdUp}); break;
            case 276: c.fAutoThreshfold = 0; keys::applyKeyCondition(c, {CondOp::ThresholdDown}); break;
            case 277: c.fAutoThreshfold = 0; c.bMode ^= BIN_LIGHT; break;
            case 278: c.fAutoThreshfold = 0; c.bMode ^= BIN_EQUAL; break;
            case 279: c.fAutoThreshfold = 0; c.bMode ^= BIN_DARK; break;
            case 280: c.fAutoThreshfold = c.fAutoThreshfold ? 0 : 1; break;
            }
        });
    }
    viewer_.publishView();
}

void KeyHandler::toggleEmulation() {
    {
        std::lock_guard lock(m_);
        InHandler inHandler;
        if (emu_.on) stopEmulationLocked();
        else startEmulationLocked(0);
    }
    viewer_.publishView();
}

void KeyHandler::zoomCommand(bool out) {
    {
        std::lock_guard lock(m_);
        InHandler inHandler;
        const ViewRecord r = viewer_.currentView();
        if (emu_.on && !(r.overview && r.viewScope)) {
            if (r.overview) return;
            const keys::ViewRect v = viewRectOf(r);
            const bool inside = emu_.known && keys::pointInView(v, gridOf(r), emu_.mouse);
            const auto anchor = inside ? lumo::ZoomAnchor::Point : lumo::ZoomAnchor::Centre;
            if (out) viewer_.zoomOut(anchor, emu_.mouse.x, emu_.mouse.y);
            else viewer_.zoomIn(anchor, emu_.mouse.x, emu_.mouse.y);
            return;
        }
        if (out) viewer_.zoomOut(lumo::ZoomAnchor::Centre);
        else viewer_.zoomIn(lumo::ZoomAnchor::Centre);
    }
}

bool KeyHandler::menuCommand(int id, bool& viewFrame, keys::MenuEffects& fx) {
    {
        std::lock_guard lock(m_);
        InHandler inHandler;
        fx = keys::toggleMenuItem(id, filters_, viewFrame, locked_);
        if (!fx.handled) return false;
        if (fx.stopEmulation && emu_.on) stopEmulationLocked();
        viewer_.editCurrent([&](ViewRecord& r, int) {
            BinCondition& c = r.condition;
            if (fx.thresholdToCommonest) keys::thresholdToCommonest(c);
            if (fx.clearColourBits) c.bMode = uint16_t(c.bMode & ~(BIN_RED | BIN_GREEN | BIN_BLUE));
        });
    }
    viewer_.publishView();
    return true;
}

bool KeyHandler::followRealMouse() {
    keys::PointerFollow f;
    {
        std::lock_guard lock(m_);
        const bool sync = viewer_.mouseSync();
        if (!emu_.on && !penDrag_ && !sync) return false;
        if (!ports_.mouseState) return true;
        // Read with the state held: a key that moves the mouse is either before or after this look.
        const auto reading = ports_.mouseState(viewer_.targetWindow());
        if (!reading) return true;
        f = keys::followPointer(*reading, emu_.on, penDrag_, sync, emu_.mouse);
        if (f.takePosition) emu_.mouse = reading->at;
        InHandler inHandler;
        switch (f.view) {
        case keys::FollowView::Contain: viewer_.contain(reading->at.x, reading->at.y); break;
        case keys::FollowView::CentreOn: viewer_.centreOn(reading->at.x, reading->at.y); break;
        case keys::FollowView::Stay: break;
        }
        if (f.publish) updateMouseText();
    }
    if (f.publish) viewer_.publishView();
    return true;
}

void KeyHandler::moveToEmulatedPosition() {
    std::lock_guard lock(m_);
    if (emu_.known) moveMouse();
}

// ---- Settings and state ----

keys::FunctionFilters KeyHandler::filters() const {
    std::lock_guard lock(m_);
    return filters_;
}
void KeyHandler::setFilters(const keys::FunctionFilters& f) {
    std::lock_guard lock(m_);
    filters_ = f;
}
std::array<keys::ConditionSlot, 4> KeyHandler::conditions() const {
    std::lock_guard lock(m_);
    return conditions_;
}
void KeyHandler::setConditions(const std::array<keys::ConditionSlot, 4>& slots) {
    std::lock_guard lock(m_);
    conditions_ = slots;
}
bool KeyHandler::locked() const {
    std::lock_guard lock(m_);
    return locked_;
}
int KeyHandler::infoPage() const {
    std::lock_guard lock(m_);
    return infoPage_;
}
bool KeyHandler::emulating() const {
    std::lock_guard lock(m_);
    return emu_.on;
}
keys::MousePoint KeyHandler::mouse() const {
    std::lock_guard lock(m_);
    return emu_.mouse;
}
int KeyHandler::textLinePage() const {
    std::lock_guard lock(m_);
    return textLinePage_;
}

}  // namespace lumo
