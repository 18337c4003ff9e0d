// The view-condition file kept beside a picture (see conditionFilePath):
// the view, the overview, the binarization condition and the four stored
// conditions as "name=value" lines. Pure text in, text out; file I/O helpers.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace bitora {

struct StoredCondition {
    int32_t flag = 0;  // 0: slot empty
    int32_t fAutoThreshfold = 0;
    int32_t bThreshfold = 0;
    int32_t bThreshfoldMin = 0;
    int32_t bThreshfoldMax = 0;
    int32_t bMode = 0;
};

struct ViewConditions {
    int32_t nBaseX = 0, nBaseY = 0, nDivX = 1, nDivY = 1;
    int32_t fOverview = 0;
    int32_t fViewScope = 0, nViewBaseX = 0, nViewBaseY = 0, nViewDivX = 1, nViewDivY = 1;
    int32_t fAutoThreshfold = 0;
    int32_t bThreshfold = 0, bThreshfoldMin = 0, bThreshfoldMax = 0;
    int32_t bMode = 0;
    std::array<StoredCondition, 4> stored{};
};

// The file's path for a picture path: for a BMP file (or an empty extension)
// the extension of the file name (from its last ".") replaced by ".LMC"; for
// any other picture ".LMC" added to the whole name, so that pictures of one
// name but different formats keep apart. nullopt when the file name has no
// "." (a "." in a folder name does not count).
std::optional<std::string> conditionFilePath(std::string_view bitmapPath);

// The file text for `v`, lines "%s%d\r\n" in the fixed order; overview lines only
// with fOverview, threshold lines only without the automatic threshold, stored
// condition details only for used slots.
std::string formatConditions(const ViewConditions& v);

// Reads `text` over `v`: a name missing from the text leaves its field as it was.
// A name counts only at the start of a line. Then corrects against the image
// size: a base outside the image becomes 0, a division below 1 becomes 1, levels
// are kept to 0..255; the overview lines only when fOverview is set; the
// thresholds only without the automatic threshold, a missing lower or upper
// bound taking the threshold's value; stored slots likewise.
void parseConditions(std::string_view text, int imageWidth, int imageHeight, ViewConditions& v);

// Reads the file beside `bitmapPath` over `v`; false (v untouched) when there is
// no such file or no path for it.
bool readConditionFile(const std::string& bitmapPath, int imageWidth, int imageHeight, ViewConditions& v);
// Writes the file beside `bitmapPath` (replacing it as a whole); false when
// there is no path for it or it cannot be written.
bool writeConditionFile(const std::string& bitmapPath, const ViewConditions& v);

}  // namespace bitora
