// The state text read back through the reader that scripts and tests use: a
// picture of known pins and levels on a display that is not square comes back
// row by row, the level grid included, and a damaged text reads as empty.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "device_model.h"
#include "state_file.h"

using namespace padsim;

namespace {

// A 6 x 3 display whose pins and levels differ in every row and column.
DeviceModel pictureModel() {
    DeviceConfig c;
    c.width = 6;
    c.height = 3;
    c.textCells = 2;
    c.setMultiLevel(true);
    DeviceModel m(c);
    auto& st = m.mutableState();
    st.plane1.assign(18, 0);
    st.plane2.assign(18, 0);
    st.levels.assign(18, 0);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 6; ++x) {
            const size_t i = static_cast<size_t>(y * 6 + x);
            st.plane1[i] = x == y ? 1 : 0;          // a diagonal from the top left
            st.plane2[i] = x == 5 - y ? 1 : 0;      // another from the top right
            st.levels[i] = static_cast<uint8_t>(16 * y + x + (x == 5 ? 0xA0 : 0));
        }
    st.text = {0x12, 0xAB};
    return m;
}

}  // namespace

TEST(PadsimStateFile, GridsAndValuesComeBackAsWritten) {
    const StateReader r(stateText(pictureModel()));
    EXPECT_EQ(r.value("size"), "6x3");
    EXPECT_EQ(r.value("multilevel"), "1");
    EXPECT_EQ(r.value("text"), "12ab");
    EXPECT_EQ(r.value("missing"), "");
    EXPECT_EQ(r.value("siz"), "");  // a key is a whole word

    EXPECT_EQ(r.grid("plane1"), (std::vector<std::string>{"#.....", ".#....", "..#..."}));
    EXPECT_EQ(r.grid("plane2"), (std::vector<std::string>{".....#", "....#.", "...#.."}));
    // Levels: two hex digits a pin, rows of the level picture (not pins, not stopped at a non-pin row).
    EXPECT_EQ(r.grid("levels"),
              (std::vector<std::string>{"0001020304a5", "1011121314b5", "2021222324c5"}));
    EXPECT_TRUE(r.grid("plane3").empty());
}

TEST(PadsimStateFile, DamagedTextReadsAsEmpty) {
    const std::string whole = stateText(pictureModel());
    // Cut inside the level grid: the grid is incomplete, the planes before it are whole.
    const StateReader cut(whole.substr(0, whole.size() - 8));
    EXPECT_TRUE(cut.grid("levels").empty());
    EXPECT_EQ(cut.grid("plane1").size(), 3u);
    // Without a size line no grid has a known height.
    std::string noSize = whole;
    noSize.erase(noSize.find("size 6x3\n"), 9);
    EXPECT_TRUE(StateReader(noSize).grid("plane1").empty());
    EXPECT_TRUE(StateReader("").grid("plane1").empty());
    EXPECT_EQ(StateReader("").value("size"), "");
}
