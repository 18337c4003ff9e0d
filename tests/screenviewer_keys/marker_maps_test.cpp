// The marker maps handed to lumoDotOperation give the same pins as the
// marker drawn directly, on a panel with an image under it and at the edges.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "imaging/lumoutil.h"
#include "screenviewer/keys/mouse_emulation.h"

using namespace tavik::lumo;

namespace {

struct PanelDeleter {
    void operator()(DotPanel* p) const { lumoFreePanel(p); }
};
struct MapDeleter {
    void operator()(DotMap* m) const { lumoFreeDotMap(m); }
};
using PanelPtr = std::unique_ptr<DotPanel, PanelDeleter>;
using MapPtr = std::unique_ptr<DotMap, MapDeleter>;

MapPtr mapOf(std::span<const uint8_t> dots) {
    MapPtr m(lumoNewDotMap(kMarkerSize, kMarkerSize));
    std::copy(dots.begin(), dots.end(), m->lpData);
    return m;
}

void applyMap(DotPanel* panel, DotMap* map, int px, int py, uint8_t op) {
    DotOpRequest r{map, 0, 0, kMarkerSize, kMarkerSize, px, py, op};
    if (px < 0) {  // the part left of the panel is skipped by starting inside the map
        r.nMapX = -px;
        r.nWidth = kMarkerSize + px;
        r.nPanelX = 0;
    }
    if (py < 0) {
        r.nMapY = -py;
        r.nHeight = kMarkerSize + py;
        r.nPanelY = 0;
    }
    ASSERT_TRUE(lumoDotOperation(&r, panel));
}

}  // namespace

TEST(MarkerMaps, DotOperationsGiveTheDirectlyDrawnMarker) {
    for (const bool alternative : {false, true}) {
        for (const auto& pin : {std::pair{20, 12}, std::pair{0, 0}, std::pair{47, 31}, std::pair{3, 30}}) {
            PanelPtr lib(lumoNewPanel(48, 32)), mine(lumoNewPanel(48, 32));
            PanelPtr libSecond(lumoNewPanel(48, 32)), mineSecond(lumoNewPanel(48, 32));
            for (int i = 0; i < lib->nSize; ++i) lib->lpData[i] = mine->lpData[i] = static_cast<uint8_t>(i * 37 + 11);
            const MapPtr mask = mapOf(markerMask(alternative)), pattern = mapOf(markerPattern(alternative));
            applyMap(lib.get(), mask.get(), pin.first - 6, pin.second - 6, 2);
            applyMap(lib.get(), pattern.get(), pin.first - 6, pin.second - 6, 1);
            applyMap(libSecond.get(), pattern.get(), pin.first - 6, pin.second - 6, 1);

            PinCanvas main(*mine), second(*mineSecond);
            drawMarker(main, second, ViewRect{0, 0, 3, 3}, MousePoint{pin.first * 3 + 2, pin.second * 3}, alternative);
            EXPECT_EQ(std::vector<uint8_t>(lib->lpData, lib->lpData + lib->nSize),
                      std::vector<uint8_t>(mine->lpData, mine->lpData + mine->nSize))
                << "pin " << pin.first << "," << pin.second << " alternative " << alternative;
            EXPECT_EQ(std::vector<uint8_t>(libSecond->lpData, libSecond->lpData + libSecond->nSize),
                      std::vector<uint8_t>(mineSecond->lpData, mineSecond->lpData + mineSecond->nSize));
        }
    }
}
