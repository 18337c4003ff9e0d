// The client-library side of the braille server.
#include "brlapi/device_link.h"

#include <sys/eventfd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <utility>

#include "client/tavikutil.h"

namespace tavik::brl {

namespace {

// The client library calls its key callback without a context pointer and
// keeps one entry a process, so the one link of the process is found here.
std::atomic<DeviceLink*> g_link{nullptr};

constexpr std::size_t kMaxQueuedKeys = 256;

}  // namespace

std::unique_ptr<DeviceLink> DeviceLink::open(const std::string& model, int port, std::string& error) {
    if (g_link.load()) {
        error = "a display link is already open";
        return nullptr;
    }
    std::unique_ptr<DeviceLink> link(new DeviceLink());
    link->wake_.reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!link->wake_) {
        error = "no event descriptor";
        return nullptr;
    }
    if (!gdStart(model.c_str(), port, nullptr)) {
        error = "cannot enter port " + std::to_string(port) + " for the model \"" + model +
                "\" (unknown model, another model on the port, no controller, or all slots taken)";
        return nullptr;
    }
    // The device answers its identification within a few seconds of the port opening.
    const char* name = nullptr;
    Equipment& eq = link->equipment_;
    bool identified = false;
    for (int i = 0; i < 100 && !identified; ++i) {
        identified = gdQueryEquipment(-1, &name, &eq.textCells, &eq.width, &eq.height) == 1;
        if (!identified) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!identified) {
        gdEnd();
        error = "the display on port " + std::to_string(port) + " did not identify itself";
        return nullptr;
    }
    eq.name = name ? name : model;
    g_link.store(link.get());
    // Display mode, not as the default client (that stays the screen viewer's):
    // the braille is shown through the part the server claims.
    if (!gdStartDisplayMode(1, &DeviceLink::onKey, nullptr, nullptr)) {
        g_link.store(nullptr);
        gdEnd();
        error = "cannot start display mode";
        return nullptr;
    }
    return link;
}

DeviceLink::~DeviceLink() {
    if (g_link.load() != this) return;
    gdEndDisplayMode();
    gdEnd();
    g_link.store(nullptr);
}

void DeviceLink::onKey(int group, int key, int modifier) {
    DeviceLink* link = g_link.load();
    if (!link) return;
    {
        std::lock_guard lock(link->mutex_);
        // A reader that stalls loses keys, never memory.
        if (link->keys_.size() >= kMaxQueuedKeys) return;
        link->keys_.push_back({group, key, modifier});
    }
    const uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(link->wake_.get(), &one, sizeof one);
}

std::vector<DeviceKey> DeviceLink::takeKeys() {
    uint64_t count = 0;
    [[maybe_unused]] auto n = ::read(wake_.get(), &count, sizeof count);
    std::lock_guard lock(mutex_);
    return std::exchange(keys_, {});
}

bool DeviceLink::showText(std::span<const uint8_t> cells) {
    std::vector<uint8_t> line(static_cast<std::size_t>(std::max(equipment_.textCells, 0)), 0);
    std::copy_n(cells.begin(), std::min(cells.size(), line.size()), line.begin());
    return gdDisplayTextData(line.data()) == 1;
}

void DeviceLink::claim(Destination where) {
    constexpr int kTextLine = 1, kPinField = 2, kSwitchChord = 4;
    const int part = where == Destination::TextLine ? kTextLine : where == Destination::Pins ? kPinField : 0;
    gdClaimDisplayParts(part | kSwitchChord);
}

bool DeviceLink::showPins(std::span<const uint8_t> plane) {
    const std::size_t need = static_cast<std::size_t>(std::max(equipment_.width, 0)) *
                             ((static_cast<std::size_t>(std::max(equipment_.height, 0)) + 7) / 8);
    if (plane.size() < need || need == 0) return false;
    return gdDisplayGraphicData(plane.data(), nullptr, 0) == 1;
}

}  // namespace tavik::brl
