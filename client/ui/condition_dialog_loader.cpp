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

// The folder of the module holding this code (the client library), with a slash.
std::string moduleFolder() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&moduleFolder), &info) || !info.dli_fname) return {};
    std::string path = info.dli_fname;
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The dialog library's entry, loaded once (kept loaded: Qt cannot be unloaded safely).
TavikUiShowConditionDialogFn dialogEntry() {
    static std::once_flag once;
    static TavikUiShowConditionDialogFn entry = nullptr;
    std::call_once(once, [] {
        void* lib = dlopen((moduleFolder() + TAVIK_UI_LIBRARY_FILE).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!lib) lib = dlopen(TAVIK_UI_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL);
        if (!lib) return;
        entry = reinterpret_cast<TavikUiShowConditionDialogFn>(dlsym(lib, TAVIK_UI_SHOW_CONDITION_DIALOG));
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
