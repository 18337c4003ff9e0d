// The exported gd viewer calls and the event handlers of the process's one
// viewer. A recursive lock serialises the application's calls, including the
// record copy and the condition hand-over, with the handlers on the
// notification thread (the application's hooks and mouse callback may call
// back in); a viewer closed while one of its calls is still running is freed
// when that call returns.
#include <cstring>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "client/library_state.h"
#include "client/tavikutil.h"
#include "client/viewer/bitmap_viewer.h"
#include "client/viewer/condition_dialog_hook.h"
#include "client/viewer/operation_filter.h"
#include "client/viewer/tavik_sink.h"
#include "client/viewer/viewer.h"
#include "client/viewer/viewer_handlers.h"
#include "common/settings.h"

namespace tavik::viewer {

namespace {

struct Host {
    std::recursive_mutex mutex;
    std::unique_ptr<Viewer> viewer;
    std::vector<std::unique_ptr<Viewer>> retired;  // closed during a call, freed after it
    int depth = 0;
    TavikSink sink;

    void retire() {
        if (viewer) retired.push_back(std::move(viewer));
    }
};

// One viewer per process, as the interface defines it.
Host& theHost() {
    static Host h;
    return h;
}

// One call into the viewer: holds the lock, frees retired viewers at the outermost level.
class Call {
public:
    Call() : h_(theHost()), lock_(h_.mutex) { ++h_.depth; }
    ~Call() {
        if (h_.viewer && h_.viewer->failed()) {  // the image could not be opened again
            closeConditionDialog();
            h_.retire();
        }
        if (--h_.depth == 0) h_.retired.clear();
    }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
    Viewer* viewer() const { return h_.viewer.get(); }
    Host& host() const { return h_; }

private:
    Host& h_;
    std::unique_lock<std::recursive_mutex> lock_;
};

void keyCallback(int t, int k, int m) { displayKeyHandler(t, k, m); }
void noteTakerCallback(int t, int k, int m) { noteTakerKeyHandler(t, k, m); }
void broadcastCallback(int c, int v, int b) { broadcastKeyHandler(c, v, b); }
void dataBlockCallback(int code, int count, const unsigned char* data) { dataBlockHandler(code, count, data); }

// Calls the record's key hook; true when the application handled the key.
bool hookHandled(Call& call, int t, int k, int m) {
    Viewer* v = call.viewer();
    BitmapViewerRecord& rec = v->record();
    const GdViewerKeyHook hook = rec.keyHook;
    return hook && hook(t, k, m, &rec) != 0;
}

// Reads the source again and applies the record's condition; closes the viewer when the source
// cannot be read. The caller holds the call and has checked the viewer.
int realizeOrClose(Call& call) {
    Viewer* v = call.viewer();
    // The pixels are read afresh: a pre-scanned mark left in the mode would misread them.
    v->record().condition.bMode = static_cast<uint16_t>(v->record().condition.bMode & ~BIN_PRESCANNED);
    if (v->realizeFromSource()) return 1;
    closeConditionDialog();
    call.host().retire();
    return 0;
}

}  // namespace

int displayKeyHandler(int t, int k, int m) {
    Call call;
    if (!call.viewer()) return 0;
    if (hookHandled(call, t, k, m)) return 1;
    Viewer* v = call.viewer();  // the hook may have closed the viewer
    return v ? v->displayKey(t, k, m) : 0;
}

int noteTakerKeyHandler(int t, int k, int m) {
    Call call;
    if (!call.viewer()) return 0;
    if (hookHandled(call, t, k, m)) return 1;
    Viewer* v = call.viewer();
    return v ? v->noteTakerKey(t, k, m) : 0;
}

int broadcastKeyHandler(int c, int v, int b) {
    Call call;
    return call.viewer() ? call.viewer()->broadcast(c, v, b) : 0;
}

int dataBlockHandler(int code, int count, const unsigned char* bytes) {
    Call call;
    if (!call.viewer() || count < 0 || (count > 0 && !bytes)) return 0;
    return call.viewer()->dataBlock(code, std::span<const uint8_t>(bytes, static_cast<size_t>(count)));
}

int viewerConditionOperation(const ConditionOp& op) {
    Call call;
    return call.viewer() ? call.viewer()->conditionOperation(op) : 0;
}

bool refreshOpenConditionDialog() {
    Call call;
    if (!call.viewer()) return false;
    refreshConditionDialog(&call.viewer()->record());
    return true;
}

bool viewerIsOpen() {
    Call call;
    return call.viewer() != nullptr;
}

void closeViewerForEnd() {
    Call call;
    if (!call.viewer()) return;
    closeConditionDialog();
    call.host().retire();
}

}  // namespace tavik::viewer

using namespace tavik::viewer;

TAVIK_API int gdOpenBitmapViewer(BitmapViewerRecord* record) {
    if (!record) return 0;
    Call call;
    const auto port = enteredPortInfo();
    if (!port) return 0;
    const tavik::ModelTraits* model = tavik::findModel(port->deviceName);
    const bool noteTaker = model && model->noteTaker;
    const int started = noteTaker ? gdStartDisplayMode(1, noteTakerCallback, nullptr, nullptr)
                                  : gdStartDisplayMode(1, keyCallback, broadcastCallback, dataBlockCallback);
    if (!started) return 0;
    tavik::client::library().closeViewer = &closeViewerForEnd;
    if (call.viewer()) {
        closeConditionDialog();
        call.host().retire();
    }
    const OperationFilter filters = readOperationFilter(tavik::LumoIniPath());
    auto viewer = Viewer::open(*record, *port, call.host().sink, filters, tavik::isJapanese(tavik::UiLanguage()));
    if (!viewer) {
        gdEndDisplayMode();
        return 0;
    }
    call.host().viewer = std::move(viewer);
    return 1;
}

TAVIK_API int gdCloseBitmapViewer(void) {
    Call call;
    gdEndDisplayMode();
    if (!call.viewer()) return 0;
    closeConditionDialog();
    call.host().retire();
    return 1;
}

TAVIK_API int gdSetViewPosition(int x, int y) {
    Call call;
    return call.viewer() ? call.viewer()->setViewPosition(x, y) : 0;
}

TAVIK_API int gdMoveViewPosition(int dx, int dy, int stepFlag) {
    Call call;
    return call.viewer() ? call.viewer()->moveViewPosition(dx, dy, stepFlag != 0) : 0;
}

TAVIK_API int gdChangeDivision(int division) {
    Call call;
    return call.viewer() ? call.viewer()->changeDivision(division) : 0;
}

TAVIK_API int gdStartOverviewMode(int frameFlag) {
    Call call;
    return call.viewer() ? call.viewer()->startOverview(frameFlag != 0) : 0;
}

TAVIK_API int gdEndOverviewMode(void) {
    Call call;
    return call.viewer() ? call.viewer()->endOverview() : 0;
}

TAVIK_API int gdChangeBitmap(LumoHBITMAP bitmap) {
    Call call;
    if (!call.viewer()) return 0;
    if (call.viewer()->changeBitmap(bitmap)) return 1;
    closeConditionDialog();
    call.host().retire();
    return 0;
}

TAVIK_API int gdRealizeCondition(void) {
    Call call;
    return call.viewer() ? realizeOrClose(call) : 0;
}

TAVIK_API int gdCopyViewerRecord(BitmapViewerRecord* copy) {
    if (!copy) return 0;
    Call call;
    if (!call.viewer()) return 0;
    std::memcpy(copy, &call.viewer()->record(), sizeof *copy);
    return 1;
}

TAVIK_API int gdSetViewerCondition(const BinCondition* condition) {
    if (!condition) return 0;
    Call call;
    if (!call.viewer()) return 0;
    BinCondition& c = call.viewer()->record().condition;
    c.bMode = condition->bMode;
    c.fAutoThreshfold = condition->fAutoThreshfold != 0 ? 1 : 0;
    c.bThreshfold = condition->bThreshfold;
    c.bThreshfoldMin = condition->bThreshfoldMin;
    c.bThreshfoldMax = condition->bThreshfoldMax;
    return realizeOrClose(call);
}

TAVIK_API int gdSetViewerModeBits(int mask, int bits) {
    Call call;
    if (!call.viewer()) return 0;
    BinCondition& c = call.viewer()->record().condition;
    c.bMode = static_cast<uint16_t>((c.bMode & ~mask) | (bits & mask));
    return realizeOrClose(call);
}
