// The condition dialog's hooks (see condition_dialog_hook.h).
#include "client/viewer/condition_dialog_hook.h"

#include <atomic>

namespace tavik::viewer {

namespace {
// Process-wide: there is one condition dialog per process, as there is one viewer.
std::atomic<ConditionDialogRefresh> gRefresh{nullptr};
std::atomic<ConditionDialogClose> gClose{nullptr};
}  // namespace

void setConditionDialogHooks(ConditionDialogRefresh refresh, ConditionDialogClose close) {
    gRefresh = refresh;
    gClose = close;
}

void refreshConditionDialog(BitmapViewerRecord* record) {
    if (auto fn = gRefresh.load()) fn(record);
}

void closeConditionDialog() {
    if (auto fn = gClose.load()) fn();
}

}  // namespace tavik::viewer
