// Focus records: find or take the process's record and fill it.
#include "outside/lumohook/focus_records.h"

namespace lumohook {

int recordEvent(lumo::HookData& hook, const FocusEvent& e) {
    int at = -1;
    for (int i = 0; i < lumo::kHookRecordCount && at < 0; ++i)
        if (hook.threads[i].inUse && hook.threads[i].threadId == e.process) at = i;
    for (int i = 0; i < lumo::kHookRecordCount && at < 0; ++i)
        if (!hook.threads[i].inUse) at = i;
    if (at < 0) at = 0;
    lumo::HookThreadRecord& r = hook.threads[at];
    r.threadId = e.process;
    r.hookOwned = 1;
    r.window = e.window;
    if (e.caret && e.window != 0 && e.clientX && e.clientY) {
        r.kind = 1;
        r.caretX = *e.clientX;
        r.caretY = *e.clientY;
        r.screenGiven = 0;
    } else {
        r.kind = 0;
        r.screenGiven = 1;
        r.screenX = e.screenX;
        r.screenY = e.screenY;
    }
    r.inUse = 1;
    r.changed = 1;
    return at;
}

}  // namespace lumohook
