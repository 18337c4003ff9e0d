// Label sets (see page_labels.h).
#include "screenviewer/pages/page_labels.h"

#include <array>
#include <string_view>
#include <vector>

#include "client/viewer/braille_cells.h"
#include "screenviewer/pages/braille_text.h"

namespace tavik::lumo {

namespace {

constexpr size_t kCount = static_cast<size_t>(Label::Count);

struct Texts {
    std::string_view english;
    std::string_view kana;  // romanised syllables; "" = same as English
};

// Single letters stay Latin in both sets; the Japanese set spells words in kana.
constexpr std::array<Texts, kCount> kTexts = {{
    {"all", "ze n bu"}, {"red", "a ka"}, {"green", "mi do ri"}, {"rg", "a ka mi do ri"},
    {"blue", "a o"}, {"rb", "a ka a o"}, {"gb", "mi do ri a o"}, {"rgb", "a ka mi do ri a o"},
    {"l", "si ro"}, {"d", "ku ro"},
    {"position", "i ti"}, {"range", "ha n i"}, {"pixel", "i ro"}, {"step", "su te xtu pu"},
    {"x", ""}, {"y", ""}, {"d", ""}, {"w", ""}, {"h", ""}, {"r", ""}, {"g", ""}, {"b", ""}, {"a", ""},
    {"size", "sa i zu"}, {"modes", "mo - do"}, {"pos", "i ti"}, {"pos%", "wa ri a i"},
    {"cond", "si ki i ti"}, {"refresh", "ko u si n"},
    {"mouse on", "ma u su o n"}, {"mouse off", "ma u su o hu"},
    {"view on", "ze n ta i o n"}, {"view off", "ze n ta i o hu"},
    {"none", "na si"}, {"0.1", "0.1"}, {"0.2", "0.2"},
}};

struct Sets {
    std::array<std::vector<uint8_t>, kCount> english, japanese;
    Sets() {
        for (size_t i = 0; i < kCount; ++i) {
            CellString e;
            e.text(kTexts[i].english);
            english[i].assign(e.cells().begin(), e.cells().end());
            const std::string_view kana = kTexts[i].kana;
            const bool latin = kana.empty() || (kana[0] >= '0' && kana[0] <= '9');
            if (latin) {
                CellString j;
                j.text(kana.empty() ? kTexts[i].english : kana);
                japanese[i].assign(j.cells().begin(), j.cells().end());
            } else {
                japanese[i] = viewer::kanaCells(kana);
            }
        }
    }
};

const Sets& sets() {
    static const Sets s;
    return s;
}

}  // namespace

std::span<const uint8_t> label(Label which, bool japanese) {
    const size_t i = static_cast<size_t>(which);
    if (i >= kCount) return {};
    return japanese ? sets().japanese[i] : sets().english[i];
}

}  // namespace tavik::lumo
