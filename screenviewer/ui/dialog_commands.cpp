// The main dialog's commands (the ids the device keys send), its Function
// Filter menu, and the settings it reads at start and writes on Exit, Close
// and at the end of the desktop session.
#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QTimer>

#include "screenviewer/key_handling.h"
#include "screenviewer/settings/filter_menu.h"
#include "screenviewer/ui/function_filter_menu.h"
#include "screenviewer/ui/main_dialog.h"

namespace lumo::ui {

void MainDialog::loadSettings() {
    state_.browse = store_.readBrowse();
    store_.readConditions(state_.conditions);
    // The menu is built in code and always loads.
    state_.menuLoaded = true;
    state_.filters = store_.readFilters(state_.menuLoaded);
    const auto& b = state_.browse;
    viewer_.setScanningMode(ScanningMode(b.scanningMode));
    if (b.mouseSync != viewer_.mouseSync()) viewer_.toggleMouseSync();
    viewer_.setRefreshChoice(b.refresh);
    viewer_.setFrameEnabled(b.viewFrame);
    if (viewer_.scanningMode() == ScanningMode::FullScreen) viewer_.fullScreen();
    else if (viewer_.scanningMode() == ScanningMode::FocusSync) viewer_.placeOnFocusNext();
    viewer_.publishView();
    checkFilterMenu(*this, state_.filters, b.viewFrame);
}

void MainDialog::saveSettings(SaveMoment when) {
    state_.browse.scanningMode = int(viewer_.scanningMode());
    state_.browse.mouseSync = viewer_.mouseSync();
    state_.browse.refresh = viewer_.refreshChoice();
    state_.browse.viewFrame = viewer_.frameEnabled();
    if (keys_) {
        state_.filters = keys_->filters();
        state_.conditions = keys_->conditions();
    }
    if (when == SaveMoment::Close) store_.saveOnClose(state_);
    else if (when == SaveMoment::EndSession) store_.saveOnEndSession(state_);
    else store_.saveOnExit(state_);
}

void MainDialog::attachInput(KeyHandler& keys) {
    keys_ = &keys;
    keys.setFilters(state_.filters);
    keys.setConditions(state_.conditions);
    button(272)->setEnabled(state_.filters.mouseEmulation);
}

void MainDialog::showEmulation(bool on) {
    if (auto* b = button(272)) b->setChecked(on);
}

void MainDialog::showMouseText(const QString& text) {
    if (auto* l = findChild<QLabel*>("273")) l->setText(text);
}

void MainDialog::runCommand(int id) {
    switch (id) {
    case 1: viewer_.forceRefresh(); break;
    case 257: viewer_.applicationWindow(); break;
    case 258: viewer_.fullScreen(); break;
    case 262:
    case 263:
        if (keys_) keys_->zoomCommand(id == 262);
        else if (id == 262) viewer_.zoomOut(lumo::ZoomAnchor::Centre);
        else viewer_.zoomIn(lumo::ZoomAnchor::Centre);
        break;
    case 264: viewer_.toggleFocusSync(); break;
    case 265: viewer_.toggleMouseSync(); break;
    case 266: viewer_.toggleOverview(); break;
    case 267: viewer_.toggleViewScope(); break;
    case 268:
    case 269:
    case 270:
    case 271:
        viewer_.setRefreshChoice(id - 268);
        button(id)->setFocus(Qt::OtherFocusReason);
        break;
    case 272:
        if (keys_) keys_->toggleEmulation();
        break;
    case 275:
    case 276:
    case 277:
    case 278:
    case 279:
    case 280:
        if (keys_) keys_->conditionCommand(id);
        break;
    case 281: finish(SaveMoment::Exit, 1); return;
    case 282: hide(); return;
    case kSysClose: close(); return;
    default: {
        bool frame = state_.browse.viewFrame;
        tavik::lumo::MenuEffects fx;
        if (keys_) {
            if (!keys_->menuCommand(id, frame, fx)) return;
            state_.filters = keys_->filters();
        } else {
            fx = tavik::lumo::toggleMenuItem(id, state_.filters, frame, locked_);
            if (!fx.handled) return;
        }
        if (fx.disableEmulationBox) button(272)->setEnabled(false);
        if (fx.enableEmulationBox) button(272)->setEnabled(true);
        if (fx.stopEmulation) showEmulation(false);
        if (fx.stopFrame || fx.startFrame) {
            state_.browse.viewFrame = frame;
            viewer_.setFrameEnabled(frame);
            if (frame) viewer_.viewChanged();
        }
        checkFilterMenu(*this, state_.filters, state_.browse.viewFrame);
        return;
    }
    }
    syncBoxes();
}

}  // namespace lumo::ui
