// Fuzz target for what reaches the controller from outside: its command line
// and the (wParam, lParam) of command messages.
#include <cstdint>
#include <cstring>
#include <string_view>

#include "controller/command_line.h"
#include "controller/commands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    (void)tavik::controller::parseCommandText(std::string_view(reinterpret_cast<const char*>(data), size));
    if (size >= 16) {
        uint64_t w = 0;
        int64_t l = 0;
        std::memcpy(&w, data, 8);
        std::memcpy(&l, data + 8, 8);
        (void)tavik::controller::decodeCommand(w, l);
    }
    return 0;
}
