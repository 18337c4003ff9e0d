// The viewer's device event handlers: key events decoded by the key tables
// and carried out, the status cell keys, chords from broadcast events and
// the touch strips' position reports.
#include <algorithm>

#include "client/viewer/condition_dialog_hook.h"
#include "client/viewer/viewer.h"

namespace tavik::viewer {

KeyState Viewer::keyState() const {
    KeyState s;
    s.statusScreen = statusScreen_;
    s.pointerMode = rec_.pointerMode != 0;
    s.overview = rec_.overviewMode != 0;
    s.overviewFrame = rec_.overviewFrame != 0;
    s.modelIndex = model_;
    s.filters = filters_;
    return s;
}

int Viewer::displayKey(int t, int k, int m) { return perform(decodeDisplayKey(t, k, m, keyState())); }

int Viewer::noteTakerKey(int t, int k, int m) { return perform(decodeNoteTakerKey(t, k, m, keyState())); }

int Viewer::perform(const Action& a) {
    const View active = activeView();
    switch (a.act) {
    case Act::Unhandled:
        return 0;
    case Act::Consumed:
        return 1;
    case Act::ScrollDots:
        scrollPixels(scrollDistance(a.dx, 1, rec_.cellWidth), scrollDistance(a.dy, 1, rec_.cellHeight));
        break;
    case Act::ScrollSteps:
        scrollPixels(scrollDistance(a.dx, stepX_, active.divX), scrollDistance(a.dy, stepY_, active.divY));
        break;
    case Act::JumpView: {
        View v = active;
        jumpView(v, geo_, a.digit);
        setActive(v);
        break;
    }
    case Act::JumpPointer:
        if (rec_.pointerMode) jumpPointer(a.digit);
        break;
    case Act::MovePointer:
        if (rec_.pointerMode) movePointer(a.digit, a.big);
        break;
    case Act::ZoomIn:
        zoomTo(std::max(1, active.divX / 2), !rec_.overviewFrame);
        break;
    case Act::ZoomOut:
        zoomTo(std::min(maxDivision_, active.divX * 2), !rec_.overviewFrame);
        break;
    case Act::ZoomInByOne:
        zoomTo(active.divX - 1, !rec_.overviewMode);
        break;
    case Act::ZoomOutByOne:
        zoomTo(active.divX + 1, !rec_.overviewMode);
        break;
    case Act::ZoomCornerIn:
        if (active.divX > 1) zoomCorner(std::max(1, active.divX / 2), a.corner);
        break;
    case Act::ZoomCornerOut:
        if (active.divX < maxDivision_) zoomCorner(std::min(maxDivision_, active.divX * 2), a.corner);
        break;
    case Act::OverviewFrameOrOff:
        overviewFrameOrOff();
        return 1;
    case Act::OverviewFrameToggle:
        overviewFrameToggle();
        return 1;
    case Act::PointerOn:
        pointerOn();
        break;
    case Act::PointerOff:
        pointerOff();
        break;
    case Act::PointerToggle:
        if (rec_.pointerMode) pointerOff();
        else if (filters_.mouseEmulation) pointerOn();
        break;
    case Act::PointerClick:
        if (rec_.pointerMode) pointerClick(a.buttons);
        break;
    case Act::PointerDrag:
        if (rec_.pointerMode) pointerDrag(a.buttons);
        break;
    case Act::Condition:
        applyCondition(a.cond);
        break;
    case Act::SaveMemory:
        rec_.conditionMemos[a.value - 1] = takeMemo();
        chime(false);
        break;
    case Act::RestoreMemory: {
        const ConditionMemo memo = rec_.conditionMemos[a.value - 1];
        if (memo.valid == 1) {
            giveMemo(memo);
            realizeAgain();
        }
        chime(true);
        break;
    }
    case Act::Effect:
        rec_.condition.bMode =
            static_cast<uint16_t>((rec_.condition.bMode & ~(BIN_ERASE_GRID | BIN_OUTLINE | BIN_CHARACTER)) | a.value);
        realizeAgain();
        break;
    case Act::SaveView:
        saveView();
        break;
    case Act::RestoreView:
        restoreView();
        break;
    case Act::ChimeSaveView:
        chime(false);
        saveView();
        break;
    case Act::ChimeRestoreView:
        chime(true);
        restoreView();
        break;
    case Act::Reset:
        reset();
        break;
    case Act::HistogramSwitch:
        histogramSwitch_ = !histogramSwitch_;
        break;
    case Act::StepsHalf:
        stepX_ = std::max(1, port_.W / 2);
        stepY_ = std::max(1, port_.H / 2);
        break;
    case Act::StepsOne:
        stepX_ = stepY_ = 1;
        break;
    case Act::StepsFull:
        stepX_ = port_.W;
        stepY_ = port_.H;
        break;
    case Act::StepXDown: stepX_ = std::max(1, stepX_ - 1); break;
    case Act::StepXUp: stepX_ = std::min(port_.W, stepX_ + 1); break;
    case Act::StepYDown: stepY_ = std::max(1, stepY_ - 1); break;
    case Act::StepYUp: stepY_ = std::min(port_.H, stepY_ + 1); break;
    case Act::NextScreen:
        statusScreen_ = statusScreen_ == 3 ? 1 : statusScreen_ + 1;
        break;
    case Act::PreviousScreen:
        statusScreen_ = statusScreen_ == 1 ? 3 : statusScreen_ - 1;
        break;
    case Act::StatusCell:
        statusCellKey(a.value);
        break;
    }
    refreshView();
    return 1;
}

void Viewer::statusCellKey(int k) {
    const auto nextOrLayout = [&](int delta) {
        if (layout_ != 0) layout_ = 0;
        else page_ = (page_ + delta) % kStatusPages;
    };
    if (k == 2) return overviewFrameOrOff();
    if (k == 3) return perform(Action{.act = Act::PointerToggle}), void();
    if (k >= 5 && k <= 8) return nextOrLayout(1);
    if (k >= 9 && k <= 12) return nextOrLayout(kStatusPages - 1);
    if (k < 13) return;
    switch (page_) {
    case 1:
        if (k <= 22) perform(Action{.act = Act::PointerToggle});
        else if (k <= 32) overviewFrameOrOff();
        break;
    case 2:
    case 3:
        if (layout_ == 0) layout_ = k <= 19 ? 1 : k <= 26 ? 2 : layout_;
        else if (layout_ == 1) layout_ = k <= 26 ? 0 : layout_;
        else layout_ = k <= 19 ? 1 : k <= 32 ? 0 : layout_;
        break;
    case 4:
        if (k >= 13 && k <= 15) applyCondition({CondOp::ToggleComparison, Walk::Plain, 1 << (k - 13)});
        if (k == 17) applyCondition({CondOp::AutoOn});
        break;
    default:
        break;
    }
}

int Viewer::broadcast(int c, int v, int b) {
    const ChordResult r = onBroadcast(chords_, c, v, b, statusScreen_);
    if (!r.handled) return 0;
    refreshView();
    return 1;
}

int Viewer::dataBlock(int code, std::span<const uint8_t> bytes) {
    const StripReport r = onPositionReport(strips_, code, bytes);
    if (!r.valid) return 0;
    if (rec_.pointerMode && !rec_.overviewFrame) {
        if (r.horizontal) publish(rec_.pointerX, r.end * rec_.cellWidth + rec_.viewLeft);
        else publish(rec_.pointerY, r.end * rec_.cellHeight + rec_.viewTop);
        publish(rec_.pointerX, std::clamp(rec_.pointerX, 0, rec_.imageWidth - 1));
        publish(rec_.pointerY, std::clamp(rec_.pointerY, 0, rec_.imageHeight - 1));
        View v = mainView();
        bringIntoView(v, geo_, rec_.pointerX, rec_.pointerY);
        setMain(v);
        report(kMsgMove);
        refreshView();
        return 1;
    }
    if (r.start != r.end) {
        const int d = rec_.overviewMode ? r.end - r.start : r.start - r.end;
        const View before = activeView();
        if (r.horizontal) scrollPixels(d * rec_.cellWidth, 0);
        else scrollPixels(0, d * rec_.cellHeight);
        if (!(activeView() == before)) refreshView();
    }
    return 1;
}

}  // namespace tavik::viewer
