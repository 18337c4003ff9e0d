// The viewer's display output through the client library's own calls, and
// the entered port's sizes and model read from the port data map.
#pragma once

#include <optional>

#include "client/viewer/display_sink.h"

namespace tavik::viewer {

class TavikSink final : public DisplaySink {
public:
    bool sendGraphic(const uint8_t* plane1, const uint8_t* plane2, int level) override;
    bool sendText(std::span<const uint8_t> cells) override;
    void sendChime(std::span<const uint8_t, 24> table) override;
};

// The entered port's device name and sizes; nullopt without an entry.
std::optional<PortInfo> enteredPortInfo();

}  // namespace tavik::viewer
