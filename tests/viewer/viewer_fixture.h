// The viewer behind a recording display, shared by the viewer's unit tests:
// a sink that keeps the device's view of the slot, the mouse reports, and a
// fixture holding a 640 x 480 picture with a few grey levels.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "client/viewer/viewer.h"

namespace viewer_fixture {

using namespace tavik::viewer;

constexpr int W = 64, H = 48, T = 32;

// Keeps the device's view of the slot: plane 1 clears plane 2, as the slot writes do.
class RecordingSink : public DisplaySink {
public:
    bool sendGraphic(const uint8_t* p1, const uint8_t* p2, int level) override {
        const size_t n = static_cast<size_t>(width) * ((height + 7) / 8);
        if (p1) {
            plane1.assign(p1, p1 + n);
            plane2.assign(n, 0);
            ++plane1Writes;
        }
        if (p2) {
            plane2.assign(p2, p2 + n);
            lastLevel = level;
            ++plane2Writes;
        }
        return true;
    }
    bool sendText(std::span<const uint8_t> cells) override {
        text.assign(cells.begin(), cells.end());
        ++textWrites;
        return true;
    }
    void sendChime(std::span<const uint8_t, 24> table) override { chimes.emplace_back(table.begin(), table.end()); }

    bool pin(const std::vector<uint8_t>& plane, int x, int y) const {
        return (plane[(y / 8) * width + x] >> (y % 8)) & 1;
    }
    int raised(const std::vector<uint8_t>& plane) const {
        int n = 0;
        for (uint8_t b : plane) n += __builtin_popcount(b);
        return n;
    }

    int width = W, height = H;  // the display's dots
    std::vector<uint8_t> plane1, plane2, text;
    std::vector<std::vector<uint8_t>> chimes;
    int plane1Writes = 0, plane2Writes = 0, textWrites = 0, lastLevel = -1;
};

struct MouseReport {
    int message, x, y, buttons;
};
inline std::vector<MouseReport> gReports;
inline void onMouse(int message, int x, int y, int buttons) { gReports.push_back({message, x, y, buttons}); }

class ViewerCore : public ::testing::Test {
protected:
    void SetUp() override {
        gReports.clear();
        bitmap_ = lumoCreateBitmap(640, 480);
        ASSERT_NE(bitmap_, nullptr);
        // Grey levels 40 and 200 in a few places, the rest black.
        paint(10, 5, 200);
        paint(400, 300, 200);
        paint(20, 5, 40);
        std::memset(&rec_, 0, sizeof rec_);
        rec_.hSourceBitmap = bitmap_;
        rec_.cellWidth = rec_.cellHeight = 1;
        rec_.condition.bMode = BIN_LIGHT;
        rec_.condition.bThreshfold = rec_.condition.bThreshfoldMin = rec_.condition.bThreshfoldMax = 100;
        rec_.mouseCallback = onMouse;
    }
    void TearDown() override {
        viewer_.reset();
        lumoDeleteBitmap(bitmap_);
    }
    void paintRgb(int x, int y, uint32_t rgb) { bitmap_->lpPixels[y * bitmap_->nWidth + x] = rgb; }
    void paint(int x, int y, int grey) {
        bitmap_->lpPixels[y * bitmap_->nWidth + x] = static_cast<uint32_t>(grey * 0x010101);
    }
    Viewer& open(const char* model = "Pinora PX-2", OperationFilter filters = {}, bool japanese = false) {
        viewer_ = Viewer::open(rec_, PortInfo{model, sink_.width, sink_.height, T}, sink_, filters, japanese);
        EXPECT_NE(viewer_, nullptr);
        return *viewer_;
    }
    // The condition screen, as a chord of the display shows it.
    void conditionScreen(Viewer& v) {
        v.broadcast(0x40, 0, 0);
        ASSERT_EQ(v.statusScreen(), -1);
    }

    LumoHBITMAP bitmap_ = nullptr;
    BitmapViewerRecord rec_{};
    RecordingSink sink_;
    std::unique_ptr<Viewer> viewer_;
};

}  // namespace viewer_fixture
