// Opening, re-opening and closing the viewer's image; the pre-scan that
// realizes the condition.
#include <algorithm>
#include <cstring>

#include "client/viewer/condition_dialog_hook.h"
#include "client/viewer/viewer.h"
#include "common/model_traits.h"

namespace tavik::viewer {

int modelIndexOf(const std::string& name) {
    const ModelTraits* m = findModel(name);
    return m ? static_cast<int>(m->model) : -1;
}

void PanelFree::operator()(DotPanel* p) const { lumoFreePanel(p); }
void DotMapFree::operator()(DotMap* m) const { lumoFreeDotMap(m); }

Viewer::Viewer(BitmapViewerRecord& record, DisplaySink& sink, const PortInfo& port, int model,
               const OperationFilter& filters, bool japanese)
    : rec_(record), sink_(sink), port_(port), model_(model), filters_(filters), japanese_(japanese) {}

std::unique_ptr<Viewer> Viewer::open(BitmapViewerRecord& rec, const PortInfo& port, DisplaySink& sink,
                                     const OperationFilter& filters, bool japanese) {
    const int model = modelIndexOf(port.deviceName);
    if (model < 0) return nullptr;
    if (port.W < 1 || port.H < 1 || port.W > 10000 || port.H > 10000 || port.W * port.H > 10000 || port.T < 0 ||
        port.T > kMaxTextCells)
        return nullptr;
    std::unique_ptr<Viewer> v(new Viewer(rec, sink, port, model, filters, japanese));
    v->image_.reset(lumoNewPanel(port.W, port.H));
    v->overlay_.reset(lumoNewPanel(port.W, port.H));
    v->imageSent_.reset(lumoNewPanel(port.W, port.H));
    v->overlaySent_.reset(lumoNewPanel(port.W, port.H));
    v->map_.reset(lumoNewDotMap(port.W, port.H));
    if (!v->image_ || !v->overlay_ || !v->imageSent_ || !v->overlaySent_ || !v->map_) return nullptr;
    v->stepX_ = port.W / 2 > 0 ? port.W / 2 : 1;
    v->stepY_ = port.H / 2 > 0 ? port.H / 2 : 1;

    rec.scan.dib = DibHandle{};
    if (!v->openImage()) return nullptr;

    rec.overviewMode = rec.overviewFrame = 0;
    rec.pointerMode = rec.pointerButtons = 0;
    v->resetWindows();
    // The application's view: a division both ways, inside the image.
    const int d = std::clamp(rec.cellWidth, 1, v->maxDivision_);
    rec.cellWidth = rec.cellHeight = d;
    rec.viewLeft = std::clamp(rec.viewLeft, 0, rec.imageWidth - 1);
    rec.viewTop = std::clamp(rec.viewTop, 0, rec.imageHeight - 1);
    v->realizeCondition();
    v->refreshView();
    return v;
}

Viewer::~Viewer() { closeImage(); }

void Viewer::closeImage() {
    if (!imageOpen_) return;
    imageOpen_ = false;
    // A viewer opened since on the same record owns the record's handle now: free only ours.
    if (rec_.scan.dib.hDib == ownedDib_) {
        lumoCloseDib(&rec_.scan.dib);
    } else {
        DibHandle mine{};
        mine.hDib = ownedDib_;
        lumoCloseDib(&mine);
    }
    ownedDib_ = nullptr;
}

bool Viewer::openImage() {
    rec_.scan.dib.hBitmap = rec_.hSourceBitmap;
    if (!rec_.hSourceBitmap || !lumoOpenDib(&rec_.scan.dib)) return false;
    imageOpen_ = true;
    ownedDib_ = rec_.scan.dib.hDib;
    return rec_.scan.dib.nWidth >= 1 && rec_.scan.dib.nHeight >= 1;
}

void Viewer::resetWindows() {
    ScanContext& s = rec_.scan;
    rec_.imageWidth = s.dib.nWidth;
    rec_.imageHeight = s.dib.nHeight;
    geo_ = Geometry{rec_.imageWidth, rec_.imageHeight, port_.W, port_.H};
    maxDivision_ = fitDivision(geo_);
    statusScreen_ = 0;
    s.nOriginX = 0;
    s.nLimitX = -1;
    s.nOriginY = 0;
    s.nLimitY = -1;
    s.nHistLeft = 0;
    s.nHistRight = rec_.imageWidth;
    s.nHistTop = 0;
    s.nHistBottom = rec_.imageHeight;
}

void Viewer::realizeCondition() {
    ScanContext& s = rec_.scan;
    std::memcpy(&s.nLineThickness, rec_.scanParams, sizeof rec_.scanParams);
    s.lpCondition = &rec_.condition;
    s.nCellWidth = std::max(1, rec_.cellWidth);
    s.nCellHeight = std::max(1, rec_.cellHeight);
    lumoPreScan(&s);
    refreshConditionDialog(&rec_);
}

bool Viewer::reopenImage() {
    closeImage();
    if (!openImage()) {
        failed_ = true;
        return false;
    }
    return true;
}

void Viewer::fitViewToImage() {
    resetWindows();
    // Keep the view settings, brought inside the image.
    publish(rec_.cellHeight, std::clamp(rec_.cellWidth, 1, maxDivision_));
    publish(rec_.cellWidth, rec_.cellHeight);
    publish(rec_.viewLeft, std::clamp(rec_.viewLeft, 0, rec_.imageWidth - 1));
    publish(rec_.viewTop, std::clamp(rec_.viewTop, 0, rec_.imageHeight - 1));
}

bool Viewer::changeBitmap(LumoHBITMAP bitmap) {
    rec_.hSourceBitmap = bitmap;
    if (!reopenImage()) return false;
    fitViewToImage();
    realizeCondition();
    refreshView();
    return true;
}

bool Viewer::realizeFromSource() {
    // A size change of the source bitmap keeps the windows consistent with the image.
    const int oldWidth = rec_.imageWidth, oldHeight = rec_.imageHeight;
    if (!reopenImage()) return false;
    if (rec_.scan.dib.nWidth != oldWidth || rec_.scan.dib.nHeight != oldHeight) fitViewToImage();
    realizeCondition();
    refreshView();
    return true;
}

void Viewer::realizeAgain() {
    // The pre-scan converts the pixels in place, so every new pre-scan starts from the source.
    if (reopenImage()) realizeCondition();
}

}  // namespace tavik::viewer
