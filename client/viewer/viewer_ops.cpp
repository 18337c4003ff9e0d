// The viewer's operations shared by the gd calls and the keys: scrolling,
// zooming, the overview, the pointer and its mouse reports, the saved view,
// the condition memories, chimes and the reset.
#include <algorithm>

#include "client/viewer/condition_dialog_hook.h"
#include "client/viewer/viewer.h"
#include "common/model_traits.h"

namespace tavik::viewer {

// ---- views ----

int32_t scrollDistance(int64_t count, int64_t dots, int64_t division) {
    // Any move beyond the image's size stops at its edge: a bound that no image reaches keeps the product exact.
    constexpr int64_t kBeyondAnyImage = int64_t{1} << 30;
    return static_cast<int32_t>(std::clamp(count * dots * division, -kBeyondAnyImage, kBeyondAnyImage));
}

View Viewer::mainView() const { return View{rec_.viewLeft, rec_.viewTop, rec_.cellWidth, rec_.cellHeight}; }

View Viewer::activeView() const {
    if (rec_.overviewMode)
        return View{rec_.detailLeft, rec_.detailTop, rec_.detailCellWidth, rec_.detailCellHeight};
    return mainView();
}

void Viewer::setMain(const View& v) {
    publish(rec_.viewLeft, v.left);
    publish(rec_.viewTop, v.top);
    publish(rec_.cellWidth, v.divX);
    publish(rec_.cellHeight, v.divY);
}

void Viewer::setActive(const View& v) {
    if (!rec_.overviewMode) return setMain(v);
    publish(rec_.detailLeft, v.left);
    publish(rec_.detailTop, v.top);
    publish(rec_.detailCellWidth, v.divX);
    publish(rec_.detailCellHeight, v.divY);
}

void Viewer::scrollPixels(int dx, int dy) {
    View v = activeView();
    moveHorizontal(v, geo_, dx);
    moveVertical(v, geo_, dy);
    setActive(v);
}

int Viewer::setViewPosition(int x, int y) {
    View v = rec_.overviewMode && rec_.overviewFrame ? activeView() : mainView();
    bringIntoView(v, geo_, x, y);
    if (rec_.overviewMode && rec_.overviewFrame) setActive(v);
    else setMain(v);
    refreshView();
    return 1;
}

int Viewer::moveViewPosition(int dx, int dy, bool steps) {
    if (steps) {
        const View a = activeView();
        scrollPixels(scrollDistance(dx, stepX_, a.divX), scrollDistance(dy, stepY_, a.divY));
    } else {
        scrollPixels(scrollDistance(dx, 1, rec_.cellWidth), scrollDistance(dy, 1, rec_.cellHeight));
    }
    refreshView();
    return 1;
}

bool Viewer::pointerInView() const { return inView(activeView(), geo_, rec_.pointerX, rec_.pointerY); }

void Viewer::zoomTo(int division, bool aboutPointer) {
    division = std::clamp(division, 1, maxDivision_);
    View v = activeView();
    const bool detail = rec_.overviewMode != 0;
    if (aboutPointer && rec_.pointerMode && pointerInView())
        zoomAbout(v, geo_, division, rec_.pointerX, rec_.pointerY, detail);
    else
        zoomCentre(v, geo_, division, detail);
    setActive(v);
}

void Viewer::zoomCorner(int division, Corner corner) {
    View v = activeView();
    tavik::viewer::zoomCorner(v, geo_, std::clamp(division, 1, maxDivision_), corner, rec_.overviewMode != 0);
    setActive(v);
}

int Viewer::changeDivision(int division) {
    zoomTo(division <= 0 ? 1 : division, true);
    refreshView();
    return 1;
}

int Viewer::startOverview(bool frame) {
    if (!rec_.overviewMode) {
        publish(rec_.overviewMode, 1);
        publish(rec_.detailLeft, rec_.viewLeft);
        publish(rec_.detailTop, rec_.viewTop);
        publish(rec_.detailCellWidth, rec_.cellWidth);
        publish(rec_.detailCellHeight, rec_.cellHeight);
        publish(rec_.viewTop, 0);
        publish(rec_.viewLeft, rec_.viewTop);
        publish(rec_.cellHeight, maxDivision_);
        publish(rec_.cellWidth, rec_.cellHeight);
        if (int64_t{rec_.detailCellWidth} * geo_.W > geo_.imageWidth &&
            int64_t{rec_.detailCellHeight} * geo_.H > geo_.imageHeight) {
            publish(rec_.detailCellHeight, 1);
            publish(rec_.detailCellWidth, 1);
        }
    }
    publish(rec_.overviewFrame, frame ? 1 : 0);
    refreshView();
    return 1;
}

int Viewer::endOverview() {
    if (rec_.overviewMode) {
        publish(rec_.overviewMode, 0);
        publish(rec_.overviewFrame, 0);
        publish(rec_.viewLeft, rec_.detailLeft);
        publish(rec_.viewTop, rec_.detailTop);
        publish(rec_.cellWidth, rec_.detailCellWidth);
        publish(rec_.cellHeight, rec_.detailCellHeight);
    }
    refreshView();
    return 1;
}

void Viewer::overviewFrameOrOff() {
    if (rec_.overviewMode) endOverview();
    else startOverview(true);
}

void Viewer::overviewFrameToggle() {
    if (rec_.overviewMode) startOverview(rec_.overviewFrame == 0);
    else startOverview(false);
}

// ---- pointer ----

void Viewer::report(int message) {
    if (rec_.mouseCallback) rec_.mouseCallback(message, rec_.pointerX, rec_.pointerY, rec_.pointerButtons);
}

void Viewer::pointerOn() {
    if (!rec_.pointerMode) {
        publish(rec_.pointerMode, 1);
        rec_.pointerButtons = 0;
    }
    publish(rec_.pointerX, std::clamp(rec_.viewLeft + rec_.cellWidth * geo_.W / 2, 0, rec_.imageWidth - 1));
    publish(rec_.pointerY, std::clamp(rec_.viewTop + rec_.cellHeight * geo_.H / 2, 0, rec_.imageHeight - 1));
    report(kMsgMove);
}

namespace {
constexpr struct {
    int bit, down, up;
} kButtons[] = {{1, kMsgLeftDown, kMsgLeftUp}, {2, kMsgRightDown, kMsgRightUp}};
}  // namespace

void Viewer::pointerOff() {
    if (!rec_.pointerMode) return;
    for (const auto& b : kButtons)
        if (rec_.pointerButtons & b.bit) {
            rec_.pointerButtons &= ~b.bit;
            report(b.up);
        }
    publish(rec_.pointerMode, 0);
}

void Viewer::pointerClick(int buttons) {
    for (const auto& b : kButtons) {
        if (!(buttons & b.bit)) continue;
        if (!(rec_.pointerButtons & b.bit)) {
            rec_.pointerButtons |= b.bit;
            report(b.down);
        }
        rec_.pointerButtons &= ~b.bit;
        report(b.up);
    }
}

void Viewer::pointerDrag(int buttons) {
    for (const auto& b : kButtons)
        if (rec_.pointerButtons & b.bit) {
            rec_.pointerButtons &= ~b.bit;
            report(b.up);
        }
    for (const auto& b : kButtons)
        if (buttons & b.bit) {
            rec_.pointerButtons |= b.bit;
            report(b.down);
        }
}

void Viewer::movePointer(int digit, bool big) {
    const int sx = (digit == 1 || digit == 4 || digit == 7) ? -1 : (digit == 3 || digit == 6 || digit == 9) ? 1 : 0;
    const int sy = (digit == 1 || digit == 2 || digit == 3) ? 1 : (digit == 7 || digit == 8 || digit == 9) ? -1 : 0;
    const View a = activeView();
    const int stepXPixels = big ? stepX_ * a.divX : rec_.cellWidth;
    const int stepYPixels = big ? stepY_ * a.divY : rec_.cellHeight;
    publish(rec_.pointerX, std::clamp(rec_.pointerX + sx * stepXPixels, 0, rec_.imageWidth - 1));
    publish(rec_.pointerY, std::clamp(rec_.pointerY + sy * stepYPixels, 0, rec_.imageHeight - 1));
    View v = mainView();
    if (big) {
        moveHorizontal(v, geo_, sx * stepXPixels);
        moveVertical(v, geo_, sy * stepYPixels);
    }
    bringIntoView(v, geo_, rec_.pointerX, rec_.pointerY);
    setMain(v);
    report(kMsgMove);
}

void Viewer::jumpPointer(int digit) {
    if (digit == 1 || digit == 4 || digit == 7) publish(rec_.pointerX, 0);
    if (digit == 3 || digit == 6 || digit == 9) publish(rec_.pointerX, rec_.imageWidth - 1);
    if (digit == 1 || digit == 2 || digit == 3) publish(rec_.pointerY, rec_.imageHeight - 1);
    if (digit == 7 || digit == 8 || digit == 9) publish(rec_.pointerY, 0);
    if (digit == 5) {
        publish(rec_.pointerX, rec_.imageWidth / 2);
        publish(rec_.pointerY, rec_.imageHeight / 2);
    }
    View v = mainView();
    centreOn(v, geo_, rec_.pointerX, rec_.pointerY);
    setMain(v);
    report(kMsgMove);
}

// ---- condition, memories, saved view ----

void Viewer::applyCondition(const ConditionOp& op) {
    const Outcome outcome = applyConditionOp(rec_.condition, op);
    if (outcome == Outcome::NoChange) return;
    if (outcome == Outcome::Realize) realizeAgain();
    else refreshConditionDialog(&rec_);
}

int Viewer::conditionOperation(const ConditionOp& op) {
    const Outcome outcome = applyConditionOp(rec_.condition, op);
    if (outcome == Outcome::NoChange) return 0;
    if (outcome == Outcome::Realize) realizeAgain();
    else refreshConditionDialog(&rec_);
    refreshView();
    return 1;
}

ConditionMemo Viewer::takeMemo() const {
    ConditionMemo m{};
    m.valid = 1;
    m.fAutoThreshfold = rec_.condition.fAutoThreshfold;
    m.bThreshfold = rec_.condition.bThreshfold;
    m.bThreshfoldMin = rec_.condition.bThreshfoldMin;
    m.bThreshfoldMax = rec_.condition.bThreshfoldMax;
    m.bMode = rec_.condition.bMode;
    return m;
}

void Viewer::giveMemo(const ConditionMemo& m) {
    rec_.condition.fAutoThreshfold = m.fAutoThreshfold;
    rec_.condition.bThreshfold = m.bThreshfold;
    rec_.condition.bThreshfoldMin = m.bThreshfoldMin;
    rec_.condition.bThreshfoldMax = m.bThreshfoldMax;
    // The memo's pre-scan bit says nothing about the pixels now: the caller scans again.
    rec_.condition.bMode = static_cast<uint16_t>(m.bMode & ~BIN_PRESCANNED);
}

void Viewer::saveView() {
    const View v = activeView();
    rec_.savedView[0] = v.left;
    rec_.savedView[1] = v.top;
    rec_.savedView[2] = v.divX;
    rec_.savedView[3] = v.divY;
    rec_.savedCondition = takeMemo();
    rec_.savedFlag = 1;
}

void Viewer::restoreView() {
    if (rec_.savedFlag != 1) return;
    View v{rec_.savedView[0], rec_.savedView[1], rec_.savedView[2], rec_.savedView[3]};
    // Values from the application's record: keep them inside the image.
    v.divX = v.divY = std::clamp(v.divX, 1, maxDivision_);
    v.left = std::clamp(v.left, 0, rec_.imageWidth - 1);
    v.top = std::clamp(v.top, 0, rec_.imageHeight - 1);
    setActive(v);
    if (rec_.savedCondition.valid == 1) giveMemo(rec_.savedCondition);
    realizeAgain();
}

void Viewer::chime(bool tableA) {
    const ModelTraits* model = modelAt(model_);
    if (!model || !model->chimes) return;
    static constexpr uint16_t kA[4][3] = {{330, 16, 0}, {440, 22, 0}, {660, 33, 0}, {0, 0, 0}};
    static constexpr uint16_t kB[4][3] = {{660, 33, 0}, {440, 22, 0}, {330, 16, 0}, {0, 0, 0}};
    const auto& t = tableA ? kA : kB;
    std::array<uint8_t, 24> bytes{};
    for (int i = 0; i < 4; ++i) {
        bytes[i * 6 + 0] = static_cast<uint8_t>(t[i][0] >> 8);
        bytes[i * 6 + 1] = static_cast<uint8_t>(t[i][0]);
        bytes[i * 6 + 2] = static_cast<uint8_t>(t[i][1] >> 8);
        bytes[i * 6 + 3] = static_cast<uint8_t>(t[i][1]);
        bytes[i * 6 + 4] = static_cast<uint8_t>(t[i][2]);
        bytes[i * 6 + 5] = 0;
    }
    sink_.sendChime(bytes);
}

void Viewer::reset() {
    statusScreen_ = 0;
    histogramSwitch_ = false;
    if (rec_.overviewMode) {
        publish(rec_.overviewFrame, 0);
        publish(rec_.overviewMode, rec_.overviewFrame);
        publish(rec_.viewLeft, rec_.detailLeft);
        publish(rec_.viewTop, rec_.detailTop);
        publish(rec_.cellWidth, rec_.detailCellWidth);
        publish(rec_.cellHeight, rec_.detailCellHeight);
    }
    if (rec_.pointerMode) {
        zoomTo(1, true);
        pointerOff();
    }
    rec_.condition.fAutoThreshfold = 1;
    realizeAgain();
}

}  // namespace tavik::viewer
