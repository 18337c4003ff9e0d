// Fuzz target for what Bitora reads from outside: view-condition (".LMC")
// files and its command line. A parsed view must stay inside the image, and
// what is written must read back the same.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "bitmapviewer/command_line.h"
#include "bitmapviewer/view_condition_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)bitora::parseCommandLine(text);
    (void)bitora::conditionFilePath(text);
    const int width = 1 + (size > 0 ? data[0] : 0) * 7, height = 1 + (size > 1 ? data[1] : 0) * 5;
    bitora::ViewConditions v{};
    bitora::parseConditions(text, width, height, v);
    bitora::ViewConditions again{};
    bitora::parseConditions(bitora::formatConditions(v), width, height, again);
    if (bitora::formatConditions(again) != bitora::formatConditions(v)) std::abort();
    return 0;
}
