// The in-memory stand-in of the view-control library: a counted session and a
// table of entries, under one lock (calls may come from several threads).
#include "outside/viewctrl/lumoctrl.h"

#include <map>
#include <mutex>

namespace {

struct Entry {
    unsigned long window = 0;
    uint32_t mask = 0;
    int32_t x = 0, y = 0, divX = 0, divY = 0;
    int32_t reports = 0;
};

struct Session {
    std::mutex mutex;
    int starts = 0;
    LumoCtrlEntry next = 1;
    std::map<LumoCtrlEntry, Entry> entries;
};

// The library's one session per process, as the interface defines it.
Session& session() {
    static Session s;
    return s;
}

}  // namespace

TAVIK_API int lumoStartCtrl(void) {
    Session& s = session();
    std::lock_guard lock(s.mutex);
    ++s.starts;
    return 1;
}

TAVIK_API void lumoEndCtrl(void) {
    Session& s = session();
    std::lock_guard lock(s.mutex);
    if (s.starts > 0 && --s.starts == 0) s.entries.clear();
}

TAVIK_API LumoCtrlEntry lumoCreateEntry(unsigned long window) {
    Session& s = session();
    std::lock_guard lock(s.mutex);
    if (s.starts == 0) return 0;
    const LumoCtrlEntry id = s.next++;
    s.entries[id].window = window;
    return id;
}

TAVIK_API int lumoSetFunctionMask(LumoCtrlEntry entry, uint32_t value, uint32_t mask) {
    Session& s = session();
    std::lock_guard lock(s.mutex);
    auto it = s.entries.find(entry);
    if (it == s.entries.end()) return 0;
    it->second.mask = (it->second.mask & ~mask) | (value & mask);
    return 1;
}

TAVIK_API int lumoSetViewPosition(LumoCtrlEntry entry, int32_t* x, int32_t* y, int32_t divX, int32_t divY) {
    if (!x || !y) return 0;
    Session& s = session();
    std::lock_guard lock(s.mutex);
    auto it = s.entries.find(entry);
    if (it == s.entries.end()) return 0;
    Entry& e = it->second;
    e.x = *x;
    e.y = *y;
    e.divX = divX;
    e.divY = divY;
    ++e.reports;
    return 1;
}

TAVIK_API int lumoQueryEntry(LumoCtrlEntry entry, uint32_t* mask, int32_t* x, int32_t* y, int32_t* divX,
                             int32_t* divY, int32_t* reports) {
    Session& s = session();
    std::lock_guard lock(s.mutex);
    auto it = s.entries.find(entry);
    if (it == s.entries.end()) return 0;
    const Entry& e = it->second;
    if (mask) *mask = e.mask;
    if (x) *x = e.x;
    if (y) *y = e.y;
    if (divX) *divX = e.divX;
    if (divY) *divY = e.divY;
    if (reports) *reports = e.reports;
    return 1;
}
