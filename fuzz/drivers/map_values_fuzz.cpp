// Fuzz target for the values the plug-in's sending side and the controller
// read from a port data map. The input is a script: client writes into the
// map (any offset, any value) interleaved with the steps that read it:
// showing a slot, clearing, following the foreground, marking a slot, and the
// controller's open, idle check and show/hide. A fake transport checks every
// frame that goes out.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <span>

#include "common/data_maps.h"
#include "common/messages.h"
#include "controller/controller.h"
#include "controller/headless_window.h"
#include "controller/mouse_map.h"
#include "drivers/core/plugin.h"
#include "platform/atomic_word.h"

namespace {

using namespace tavik;

// Accepts every write and checks that each frame is whole and no larger than
// its command allows.
class CheckingTransport final : public drv::Transport {
public:
    bool write(std::span<const uint8_t> bytes) override {
        for (uint8_t b : bytes) take(b);
        return true;
    }
    int read(std::span<uint8_t>, int) override { return 0; }
    void purge() override {}
    bool drainOutput(int) override { return true; }
    void cancel() override {}

private:
    void take(uint8_t b) {
        if (pos_ < 6) {
            header_[pos_++] = b;
            if (pos_ == 6) {
                if (header_[0] != 0xFF || header_[1] != 0xFF) std::abort();
                left_ = header_[4] | (header_[5] << 8);
                const std::size_t limit = header_[2] == 0x91 ? 128 : header_[2] == 0x93 ? 516 : header_[2] == 0xA2 ? 8 + 9999 : 0xFFFF;
                if (left_ > limit) std::abort();
                if (left_ == 0) pos_ = 0;
            }
            return;
        }
        if (--left_ == 0) pos_ = 0;
    }
    uint8_t header_[6] = {};
    std::size_t pos_ = 0, left_ = 0;
};

class FuzzVariant final : public drv::ProtocolVariant {};

struct Rig {
    Rig() {
        static char dir[] = "/tmp/tavik-map-fuzz-XXXXXX";
        if (!::mkdtemp(dir)) std::abort();
        ::setenv("XDG_CONFIG_HOME", dir, 1);
        ::unsetenv("DISPLAY");
        plugin = std::make_unique<drv::DriverPlugin>(variant);
        if (!plugin->init(kPort)) std::abort();
        link = std::make_shared<drv::DeviceLink>(std::make_unique<CheckingTransport>(),
                                                 drv::DeviceLink::FrameWrites::HeaderThenPayload);
        plugin->useSendingLink(link.get());
        registerMessages(messages);
        // Held for the whole run, as a long-lived client holds it: a controller's open then
        // maps the existing section instead of creating and clearing a new one per input.
        mouse = controller::MouseMapReference::acquire();
        if (!mouse) std::abort();
    }
    static constexpr int32_t kPort = 79;
    FuzzVariant variant;
    std::unique_ptr<drv::DriverPlugin> plugin;
    std::shared_ptr<drv::DeviceLink> link;
    MessageNumbers messages;
    std::optional<controller::MouseMapReference> mouse;
};

Rig& rig() {
    static Rig r;
    return r;
}

class Script {
public:
    Script(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool more() const { return pos_ < size_; }
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    int32_t word() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= uint32_t{byte()} << (8 * i);
        return static_cast<int32_t>(v);
    }
    uint32_t offset(std::size_t limit) {
        const uint32_t v = byte() | (uint32_t{byte()} << 8) | (uint32_t{byte()} << 16);
        return v % static_cast<uint32_t>(limit);
    }

private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Rig& r = rig();
    PortDataMap& m = *r.plugin->map();
    std::memset(&m, 0, sizeof m);
    auto* bytes = reinterpret_cast<uint8_t*>(&m);
    controller::HeadlessWindow window;
    controller::Controller ctl(window, r.messages, 0, "/nonexistent-plugin-folder");
    Script s(data, size);
    for (int steps = 0; s.more() && steps < 64; ++steps) {
        switch (s.byte() % 12) {
            case 0: {  // a client writes one word
                const uint32_t at = s.offset(sizeof m) & ~3u;
                platform::storeWord(*reinterpret_cast<int32_t*>(bytes + at), s.word());
                break;
            }
            case 1: {  // a client writes a run of bytes (text, picture, names)
                const uint32_t at = s.offset(sizeof m);
                const std::size_t n = s.byte();
                for (std::size_t i = 0; i < n && at + i < sizeof m; ++i) bytes[at + i] = s.byte();
                break;
            }
            case 2: {  // the header words a client fills at entry
                const int32_t* fields[] = {&m.textCells, &m.graphicWidth, &m.graphicHeight};
                platform::storeWord(*const_cast<int32_t*>(fields[s.byte() % 3]), s.word());
                break;
            }
            case 3: {
                const int32_t slot = s.byte() % kSlotCount;
                // A held flag only costs time here (a claimed part's source is another slot).
                for (int32_t& busy : m.slotBusy) platform::storeWord(busy, 0);
                r.link->pushReply(std::array<uint8_t, 1>{0});
                r.plugin->showSlot(slot);
                break;
            }
            case 4:
                r.link->pushReply(std::array<uint8_t, 1>{0});
                for (int32_t& busy : m.slotBusy) platform::storeWord(busy, 0);
                if (s.byte() & 1)
                    r.plugin->showNothingWhole();
                else
                    r.plugin->clearDisplay();
                break;
            case 5:
                r.plugin->followForeground(s.word());
                break;
            case 6:
                r.plugin->markSlotChanged(s.word());
                break;
            case 7:
                r.plugin->setMultiLevel(s.byte() & 1);
                break;
            case 8:
                ctl.openPort(s.byte() % 2 ? Rig::kPort : s.word());
                break;
            case 9:
                (void)ctl.idleCheck(s.byte() & 1);
                break;
            case 10:
                ctl.dispatchCommand(kCmdShowWindow, s.byte() & 1);
                break;
            case 11:
                ctl.dispatchCommand(kCmdClosePort, 0);
                break;
        }
    }
    ctl.shutdown();
    r.plugin->setMultiLevel(false);
    return 0;
}
