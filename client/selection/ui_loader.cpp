// Loading the dialog library with dlopen when a question must be asked, and
// the answers given when it cannot be loaded or there is no display.
#include <dlfcn.h>

#include <cstdlib>
#include <string>

#include "client/selection/selection_ui.h"
#include "platform/run_time_library.h"

namespace tavik::selection {

namespace {

constexpr const char* kUiLibraryName = "libtavikutil_ui.so";

bool envSet(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

// Without QT_QPA_PLATFORM Qt would pick the desktop's platform, which needs a
// display to connect to.
bool displayAvailable() { return envSet("QT_QPA_PLATFORM") || envSet("DISPLAY") || envSet("WAYLAND_DISPLAY"); }

class HeadlessUi final : public SelectionUi {
public:
    Answer messageBox(const std::string&, const std::string&, Buttons, unsigned long) override { return Answer::None; }
    bool portDialog(PortDialogRequest&) override { return false; }
};

class BridgeUi final : public SelectionUi {
public:
    explicit BridgeUi(const TavikUiTable& table) : table_(table) {}

    Answer messageBox(const std::string& caption, const std::string& text, Buttons buttons,
                      unsigned long owner) override {
        const TavikUiMessage m{caption.c_str(), text.c_str(), static_cast<int>(buttons), owner};
        switch (table_.messageBox(&m)) {
            case TAVIK_UI_ANSWER_OK: return Answer::Ok;
            case TAVIK_UI_ANSWER_CANCEL: return Answer::Cancel;
            case TAVIK_UI_ANSWER_YES: return Answer::Yes;
            case TAVIK_UI_ANSWER_NO: return Answer::No;
            default: return Answer::None;
        }
    }

    bool portDialog(PortDialogRequest& r) override {
        std::vector<const char*> ports, devices;
        for (const auto& p : r.ports) ports.push_back(p.c_str());
        for (const auto& d : r.devices) devices.push_back(d.c_str());
        TavikUiPortDialog d{r.title.c_str(), r.portLabel.c_str(), r.deviceLabel.c_str(), r.okText.c_str(),
                            r.cancelText.c_str(), ports.data(), static_cast<int>(ports.size()), r.selectedPort,
                            devices.data(), static_cast<int>(devices.size()), r.selectedDevice, r.owner};
        if (table_.portDialog(&d) != 1) return false;
        r.selectedPort = d.selectedPort;
        r.selectedDevice = d.selectedDevice;
        return true;
    }

private:
    const TavikUiTable& table_;
};

// The library (TAVIK_UI_LIBRARY, else beside the client library) stays loaded
// for the life of the process, so no handle is kept for closing.
const TavikUiTable* loadTable() {
    const TavikUiTable* table = nullptr;
    platform::loadRunTimeLibrary({kUiLibraryName, reinterpret_cast<const void*>(&displayAvailable), "TAVIK_UI_LIBRARY"},
                                 [&table](void* handle) {
                                     auto entry = reinterpret_cast<TavikUiEntry>(dlsym(handle, TAVIK_UI_ENTRY_NAME));
                                     const TavikUiTable* t = entry ? entry() : nullptr;
                                     if (!t || t->version != TAVIK_UI_TABLE_VERSION || t->size < sizeof(TavikUiTable) ||
                                         !t->messageBox || !t->portDialog)
                                         return false;
                                     table = t;
                                     return true;
                                 });
    return table;
}

}  // namespace

SelectionUi& systemUi() {
    static HeadlessUi headless;
    if (!displayAvailable()) return headless;
    static const TavikUiTable* table = loadTable();
    if (!table) return headless;
    static BridgeUi bridge(*table);
    return bridge;
}

}  // namespace tavik::selection
