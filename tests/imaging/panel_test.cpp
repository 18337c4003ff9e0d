// Pin panels and dot maps: sizes and bit layout, reducing an image to a panel, and every dot
// operation with clipping and partly covered bands.
#include <gtest/gtest.h>

#include "tests/imaging/image_fixture.h"

using namespace lumotest;

namespace {

bool pin(const DotPanel* p, int x, int r) { return (p->lpData[(r / 8) * p->nStride + x] >> (r % 8)) & 1; }
void setPin(DotPanel* p, int x, int r) { p->lpData[(r / 8) * p->nStride + x] |= uint8_t(1 << (r % 8)); }
int countPins(const DotPanel* p) {
    int n = 0;
    for (int x = 0; x < p->nWidth; ++x)
        for (int r = 0; r < p->nHeight; ++r) n += pin(p, x, r);
    return n;
}

struct Panel {
    DotPanel* p;
    Panel(int w, int h) : p(lumoNewPanel(w, h)) {}
    ~Panel() { lumoFreePanel(p); }
};
struct Map {
    DotMap* m;
    Map(int w, int h) : m(lumoNewDotMap(w, h)) {}
    ~Map() { lumoFreeDotMap(m); }
};

DotOpRequest request(DotMap* map, int op, int mx, int my, int w, int h, int px, int py) {
    DotOpRequest r{};
    r.lpMap = map;
    r.bOperation = uint8_t(op);
    r.nMapX = mx;
    r.nMapY = my;
    r.nWidth = w;
    r.nHeight = h;
    r.nPanelX = px;
    r.nPanelY = py;
    return r;
}

}  // namespace

TEST(Panels, SizesAndHeaders) {
    Panel a(64, 48), b(10, 9);
    ASSERT_NE(a.p, nullptr);
    EXPECT_EQ(a.p->nStride, 64);
    EXPECT_EQ(a.p->nSize, 384);
    EXPECT_EQ(a.p->lpData, reinterpret_cast<uint8_t*>(a.p) + sizeof(DotPanel));
    EXPECT_EQ(b.p->nSize, 20);
    EXPECT_EQ(b.p->nHeight, 9);
    EXPECT_EQ(lumoNewPanel(-1, 5), nullptr);
    EXPECT_EQ(lumoNewPanel(1 << 30, 1 << 20), nullptr);

    Map m(5, 4);
    ASSERT_NE(m.m, nullptr);
    EXPECT_EQ(m.m->nAllocWidth, 5);
    EXPECT_EQ(m.m->nHeight, 4);
    for (int i = 0; i < 20; ++i) m.m->lpData[i] = 7;
    lumoClearDotMap(m.m, 9, 2);  // wider than the allocation: the allocated width is used
    EXPECT_EQ(m.m->nWidth, 5);
    EXPECT_EQ(m.m->nHeight, 2);
    EXPECT_EQ(m.m->lpData[9], 0);
    EXPECT_EQ(m.m->lpData[10], 7);  // outside the used part: kept
    lumoFreePanel(nullptr);
}

TEST(Panels, ImageToPinsOneMatchingPixelIsEnough) {
    Pixels img(16, 16, rgb(255, 255, 255));
    img.at(5, 5) = 0;
    Opened o(img);
    o.cond.bMode = BIN_DARK;
    o.cond.bThreshfold = 128;
    o.ctx.nCellWidth = o.ctx.nCellHeight = 4;
    Panel p(4, 4);
    std::fill_n(p.p->lpData, p.p->nSize, 0xFF);  // every byte is rewritten
    lumoSetPanel(&o.ctx, p.p);
    EXPECT_EQ(p.p->lpData[1], 0x02);
    EXPECT_EQ(countPins(p.p), 1);

    // 3 x 3 cells: only the bottom-right pixel of a cell matches.
    Pixels small(9, 9, rgb(255, 255, 255));
    small.at(5, 8) = 0;
    Opened s(small);
    s.cond.bMode = BIN_DARK;
    s.cond.bThreshfold = 128;
    s.ctx.nCellWidth = s.ctx.nCellHeight = 3;
    Panel q(3, 3);
    lumoSetPanel(&s.ctx, q.p);
    EXPECT_TRUE(pin(q.p, 1, 2));
    EXPECT_EQ(countPins(q.p), 1);

    // Rows of the last band beyond the panel height are scanned like the others.
    Pixels tall(2, 12, rgb(255, 255, 255));
    tall.at(0, 10) = 0;
    Opened t(tall);
    t.cond.bMode = BIN_DARK;
    t.cond.bThreshfold = 128;
    Panel r(2, 9);
    lumoSetPanel(&t.ctx, r.p);
    EXPECT_EQ(r.p->lpData[2], 0x04);  // band 1, row 10 = bit 2
}

TEST(DotOperations, RaiseLowerAndFrameRespectBandsAndRows) {
    Map dummy(0, 0);
    DotMap header{};  // a map with no data
    Panel p(16, 16);
    std::fill_n(p.p->lpData, p.p->nSize, 0);
    auto r = request(&header, DOTOP_RAISE, 0, 3, 2, 8, 0, 3);  // rows 3..10
    ASSERT_EQ(lumoDotOperation(&r, p.p), 1);
    EXPECT_EQ(p.p->lpData[0], 0xF8);  // bits 3..7 of band 0
    EXPECT_EQ(p.p->lpData[16], 0x07); // bits 0..2 of band 1
    EXPECT_EQ(p.p->lpData[2], 0);

    std::fill_n(p.p->lpData, p.p->nSize, 0xFF);
    r = request(&header, DOTOP_LOWER, 0, 0, 1, 3, 4, 2);  // rows 2..4 of column 4
    ASSERT_EQ(lumoDotOperation(&r, p.p), 1);
    EXPECT_EQ(p.p->lpData[4], 0xE3);

    Panel f(16, 16);
    std::fill_n(f.p->lpData, f.p->nSize, 0xFF);
    r = request(&header, DOTOP_FRAME, 0, 0, 13, 13, 1, 1);
    ASSERT_EQ(lumoDotOperation(&r, f.p), 1);
    int border = 0, inside = 0;
    for (int x = 1; x <= 13; ++x)
        for (int y = 1; y <= 13; ++y) {
            const bool edge = x == 1 || x == 13 || y == 1 || y == 13;
            EXPECT_EQ(pin(f.p, x, y), edge) << x << "," << y;
            (edge ? border : inside) += pin(f.p, x, y) == edge;
        }
    EXPECT_EQ(border, 48);
    EXPECT_EQ(inside, 121);
    EXPECT_TRUE(pin(f.p, 0, 0));  // outside the rectangle: untouched
    EXPECT_TRUE(pin(f.p, 14, 14));

    // Placed left of the panel: only columns 6 and above are written; the frame keeps its shape.
    std::fill_n(f.p->lpData, f.p->nSize, 0);
    r = request(&header, DOTOP_FRAME, 0, 0, 10, 4, -6, 0);
    ASSERT_EQ(lumoDotOperation(&r, f.p), 1);
    EXPECT_TRUE(pin(f.p, 0, 1) == false);  // map column 6: inner column of the frame
    EXPECT_TRUE(pin(f.p, 0, 0));
    EXPECT_TRUE(pin(f.p, 3, 2));            // map column 9: the right edge
    EXPECT_FALSE(pin(f.p, 4, 0));

    // Clipped at the panel's bottom-right corner.
    std::fill_n(f.p->lpData, f.p->nSize, 0);
    r = request(&header, DOTOP_RAISE, 0, 0, 40, 40, 14, 14);
    ASSERT_EQ(lumoDotOperation(&r, f.p), 1);
    EXPECT_EQ(countPins(f.p), 4);
}

TEST(DotOperations, CopyOrAndUseTheMapAndReadBackFillsIt) {
    Map m(4, 10);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 4; ++x) m.m->lpData[y * 4 + x] = uint8_t((x + y) % 2 ? 9 : 0);
    Panel p(8, 16);
    std::fill_n(p.p->lpData, p.p->nSize, 0);
    auto r = request(m.m, DOTOP_COPY, 0, 0, 4, 10, 2, 5);
    ASSERT_EQ(lumoDotOperation(&r, p.p), 1);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(pin(p.p, 2 + x, 5 + y), (x + y) % 2 == 1);
    EXPECT_EQ(countPins(p.p), 20);

    // OR with an all-zero map changes nothing; AND with it lowers the rectangle.
    Map zero(4, 10);
    std::fill_n(p.p->lpData, p.p->nSize, 0xFF);
    r = request(zero.m, DOTOP_OR, 0, 0, 4, 10, 0, 0);
    ASSERT_EQ(lumoDotOperation(&r, p.p), 1);
    EXPECT_EQ(countPins(p.p), 128);
    r.bOperation = DOTOP_AND;
    ASSERT_EQ(lumoDotOperation(&r, p.p), 1);
    EXPECT_EQ(countPins(p.p), 128 - 40);
    EXPECT_EQ(p.p->lpData[8 + 0], 0xFC);  // band 1 column 0: rows 8 and 9 lowered only

    // The used size of the map clips the rectangle.
    lumoClearDotMap(m.m, 2, 2);
    std::fill_n(p.p->lpData, p.p->nSize, 0);
    for (int i = 0; i < 4; ++i) m.m->lpData[i] = 1;  // row 0: columns 0..3 raised, 2..3 unused
    r = request(m.m, DOTOP_COPY, 0, 0, 4, 4, 0, 0);
    ASSERT_EQ(lumoDotOperation(&r, p.p), 1);
    EXPECT_EQ(countPins(p.p), 2);

    // Read back: map dots become 1 where the panel is raised, others keep their value.
    Map back(3, 3);
    back.m->lpData[8] = 5;
    std::fill_n(p.p->lpData, p.p->nSize, 0);
    setPin(p.p, 5, 6);
    r = request(back.m, DOTOP_READ, 0, 0, 3, 3, 4, 5);
    ASSERT_EQ(lumoDotOperation(&r, p.p), 1);
    EXPECT_EQ(back.m->lpData[1 * 3 + 1], 1);
    EXPECT_EQ(back.m->lpData[8], 5);
    EXPECT_EQ(back.m->lpData[0], 0);
    // A map smaller than the clipped rectangle: false, map unchanged.
    r = request(back.m, DOTOP_READ, 0, 0, 4, 3, 4, 5);
    back.m->lpData[4] = 0;
    EXPECT_EQ(lumoDotOperation(&r, p.p), 0);
    EXPECT_EQ(back.m->lpData[4], 0);

    // Codes that need data fail without it; unknown codes only ask whether there is data.
    DotMap header{};
    r = request(&header, DOTOP_COPY, 0, 0, 2, 2, 0, 0);
    EXPECT_EQ(lumoDotOperation(&r, p.p), 0);
    r.bOperation = DOTOP_READ;
    EXPECT_EQ(lumoDotOperation(&r, p.p), 0);
    r.bOperation = 7;
    EXPECT_EQ(lumoDotOperation(&r, p.p), 0);
    r.lpMap = back.m;
    EXPECT_EQ(lumoDotOperation(&r, p.p), 1);
    // Negative map origins never index before the map.
    r = request(back.m, DOTOP_COPY, -2, -2, 5, 5, 0, 0);
    std::fill_n(p.p->lpData, p.p->nSize, 0);
    EXPECT_EQ(lumoDotOperation(&r, p.p), 1);
    EXPECT_TRUE(pin(p.p, 4, 4));  // map dot (2,2)
    EXPECT_EQ(countPins(p.p), 1);
}

TEST(DotOperations, UsedSizeBeyondTheAllocationIsCutToIt) {
    // A program's own header over pattern bytes: 3 x 2 allocated, but the used size claims 3 x 40.
    // The bytes past the allocation are raised, so reading them would raise pins.
    std::vector<uint8_t> bytes(3 * 40, 1);
    DotMap header{};
    header.nAllocWidth = 3;
    header.nAllocHeight = 2;
    header.lpData = bytes.data();
    header.nWidth = 3;
    header.nHeight = 40;
    Panel p(8, 40);
    std::fill_n(p.p->lpData, p.p->nSize, 0);
    auto r = request(&header, DOTOP_COPY, 0, 0, 3, 40, 0, 0);
    ASSERT_EQ(lumoDotOperation(&r, p.p), 1);
    EXPECT_EQ(countPins(p.p), 6);
    EXPECT_TRUE(pin(p.p, 2, 1));
    EXPECT_FALSE(pin(p.p, 0, 2));

    // A panel whose header was damaged (negative stride) is refused rather than indexed.
    p.p->nStride = -8;
    EXPECT_EQ(lumoDotOperation(&r, p.p), 0);
    p.p->nStride = 8;
}
