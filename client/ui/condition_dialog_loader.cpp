// gdShowConditionDlg on the client library's side: loads the Qt dialog library
// beside this module on first use and hands it the viewer's condition
// operations. No Qt here, so the library runs without it.
#include <dlfcn.h>

#include <mutex>
#include <string>

#include "client/ui/condition_dialog.h"
#include "client/ui/condition_dialog_services.h"
#include "client/viewer/bitmap_viewer.h"
#include "client/viewer/condition_dialog_hook.h"
#include "client/viewer/condition_ops.h"
#include "client/viewer/viewer_handlers.h"
#include "common/settings.h"
#include "platform/run_time_library.h"

namespace {

int operate(int op, int walk, int value) {
    tavik::viewer::ConditionOp o{static_cast<tavik::viewer::CondOp>(op),
                                 walk ? tavik::viewer::Walk::Jump : tavik::viewer::Walk::Plain, value};
    return tavik::viewer::viewerConditionOperation(o);
}

// A move by nothing refreshes the view and changes nothing else.
void refreshView() { gdMoveViewPosition(0, 0, 0); }

void setHooks(TavikDialogRefreshHook refresh, TavikDialogCloseHook close) {
    tavik::viewer::setConditionDialogHooks(refresh, close);
}

// The dialog shows the condition as it stands: nothing is scanned or sent again.
int requestRefresh() { return tavik::viewer::refreshOpenConditionDialog() ? 1 : 0; }

// The dialog library's entry, loaded once (TAVIK_UI_LIBRARY, else beside the
// client library; kept loaded: Qt cannot be unloaded safely). A file without
// the entry is passed over.
TavikUiShowConditionDialogFn dialogEntry() {
    static std::once_flag once;
    static TavikUiShowConditionDialogFn entry = nullptr;
    std::call_once(once, [] {
        tavik::platform::loadRunTimeLibrary({TAVIK_UI_LIBRARY_FILE, reinterpret_cast<const void*>(&operate), "TAVIK_UI_LIBRARY"},
                                            [](void* handle) {
                                                entry = reinterpret_cast<TavikUiShowConditionDialogFn>(
                                                    dlsym(handle, TAVIK_UI_SHOW_CONDITION_DIALOG));
                                                return entry != nullptr;
                                            });
    });
    return entry;
}

}  // namespace

TAVIK_API int gdShowConditionDlg(TavikWindow owner) {
    const TavikUiShowConditionDialogFn show = dialogEntry();
    if (!show) return 0;
    ConditionDialogServices services{&operate, &refreshView, &setHooks, &requestRefresh,
                                     tavik::isJapanese(tavik::UiLanguage()) ? 1 : 0};
    return show(owner, &services);
}
