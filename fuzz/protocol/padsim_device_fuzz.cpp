// Arbitrary computer-side bytes into the virtual display: frame reader, frame
// decoding (planes, multi-level headers with their own sizes, braille cells),
// the state text and the pin picture must all stay in bounds.
#include <cstdint>
#include <span>

#include "device_model.h"
#include "host_frame_reader.h"
#include "picture.h"
#include "state_file.h"

using namespace padsim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DeviceConfig config;
    if (size > 0 && (data[0] & 1)) config.setNoteTakerCells(16 + data[0] % 31);
    if (size > 0 && (data[0] & 2)) {
        config.width = 1 + data[0] % 64;
        config.height = 1 + (data[0] >> 2) % 48;
    }
    DeviceModel model(config);
    HostFrameReader reader([&](const HostFrame& f) { model.handle(f); },
                           [&](std::span<const uint8_t> b) { model.noteJunk(b.size()); });
    if (size > 1) reader.feed(std::span<const uint8_t>(data + 1, size - 1), 0);
    int w = 0, h = 0;
    const auto img = model.pinImage(w, h);
    volatile size_t sink = stateText(model).size() + brailleRows(img, w, h, 1).size();
    (void)sink;
    return 0;
}
