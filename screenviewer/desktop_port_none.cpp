// The viewer's desktop port in a build without the desktop layer: no display.
#include "screenviewer/desktop_port.h"

namespace lumo {

namespace {
class NoDesktop final : public DesktopPort {
public:
    std::optional<WindowId> activeWindow() override { return std::nullopt; }
    bool windowExists(WindowId) override { return false; }
    std::optional<Rect> windowRect(WindowId) override { return std::nullopt; }
    std::optional<Rect> clientRect(WindowId) override { return std::nullopt; }
    std::optional<int32_t> windowProcess(WindowId) override { return std::nullopt; }
    void showFrame(const Rect&) override {}
    void hideFrame() override {}
    std::optional<bool> takeDamage(const Rect&) override { return std::nullopt; }
    bool connected() override { return false; }
};
}  // namespace

std::unique_ptr<DesktopPort> makeDesktopPort() { return std::make_unique<NoDesktop>(); }

}  // namespace lumo
