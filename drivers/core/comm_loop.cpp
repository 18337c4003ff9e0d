// The communication thread: identifies the device, follows the foreground
// window and sends the chosen client's text and dots.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "common/display_parts.h"
#include "drivers/core/foreground.h"
#include "drivers/core/plugin.h"
#include "planes.h"
#include "platform/atomic_word.h"
#include "platform/word_wait.h"

namespace tavik::drv {

using platform::exchangeWord;
using platform::loadWord;
using platform::storeWord;

namespace {

// The map's graphic size may hold anything: both sides positive and their
// product, taken in 64 bits, within a slot's graphic.
bool validGraphicSize(int32_t w, int32_t h) {
    return w > 0 && h > 0 && int64_t{w} * int64_t{h} <= int64_t{kGraphicBytes};
}

// Reads a changed-flag and clears it in one step.
int32_t takeWord(int32_t& word) { return std::atomic_ref<int32_t>(word).exchange(0, std::memory_order_acq_rel); }

}  // namespace

void DriverPlugin::communicationLoop() {
    PortDataMap& m = *map();
    // This thread keeps its link (and so the port) for as long as it runs,
    // also when drvEnd has given up waiting for it.
    std::shared_ptr<DeviceLink> link = sharedLink();
    commLink_ = link.get();
    ForegroundSource foreground;
    storeWord(m.displayRequest, kNoRequest);
    // A client that wrote before this thread ran would otherwise see its
    // request replaced by a clear: start with the slot in front in full.
    if (const int32_t first = eventAddressee(m); isSlot(first) && (loadWord(m.slots[first].displayFlags) & kDisplayModeOn)) {
        markSlotChanged(first);
        storeWord(m.displayRequest, first);
    }
    status_.write(StatusLines::connectedDevice(fieldString(m.deviceName)));
    if (!openNote_.empty()) status_.write(openNote_);
    storeWord(m.status, kStatusConnected);
    // A device identified by an earlier start is not asked again: what its
    // answer set up comes from the answer stored in the map.
    if (loadWord(m.deviceIdentified) != 0) {
        while (!commStop_.load()) {
            SendLockGuard guard(*link);  // the variant may send (the note-taker's mode)
            if (guard.held()) {
                restoreIdentification();
                break;
            }
        }
    }

    while (!commStop_.load()) {
        if (loadWord(m.deviceIdentified) == 0) {
            bool identified = true;
            {
                SendLockGuard guard(*link);
                if (guard.held()) identified = identify();
            }
            if (!identified) pause(5000);
            continue;
        }
        const int32_t request = loadWord(m.displayRequest);
        if (loadWord(m.displayClientCount) > 0 && request != kRequestSending) {
            if (!exchangeWord(m.displayRequest, request, kRequestSending)) continue;
            if (request == kNoRequest || isSlot(request)) {
                SendLockGuard guard(*link);
                if (!guard.held()) {
                    // Port busy: keep the request for the next turn.
                    exchangeWord(m.displayRequest, kRequestSending, request);
                    continue;
                }
                if (request == kNoRequest)
                    showNothingWhole();
                else
                    showSlot(request);
            }
            pause(100);  // pacing: about ten slot sends a second
        } else {
            // Idle turn: wake early when a client names a slot to send.
            platform::waitWordChange(m.displayRequest, request, 50);
            if (commStop_.load()) break;
            followForeground(foreground.foregroundProcess());
        }
    }

    {
        SendLockGuard guard(*link);
        if (guard.held()) {
            clearDisplay();
            variant_.atThreadEnd(*this);
        }
    }
    link->transport().drainOutput(1000);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    commLink_ = nullptr;
}

bool DriverPlugin::identify() {
    DeviceLink& link = *this->link();
    PortDataMap& m = *map();
    if (!link.writeFrame(proto::host::kIdentify, 0, {})) return false;
    std::array<uint8_t, proto::kIdentReplySize> reply{};
    for (auto& b : reply) {
        auto got = link.waitReplyByte(static_cast<int>(proto::kIdentByteWaitMs), &commStop_);
        if (!got) return false;
        b = *got;
    }
    const proto::IdentInfo info = proto::parseIdentReply(reply);
    std::memcpy(m.deviceInfo, info.deviceInfo.data(), sizeof m.deviceInfo);
    multiLevel_ = variant_.allowsMultiLevel() && info.multiLevel;
    storeWord(m.deviceIdentified, 1);
    status_.write(StatusLines::connectedDevice(info.nameView()));
    variant_.afterIdentification(*this, info);
    return true;
}

void DriverPlugin::restoreIdentification() {
    PortDataMap& m = *map();
    std::array<uint8_t, proto::kDeviceInfoSize> stored{};
    for (std::size_t i = 0; i < stored.size(); ++i)
        stored[i] = std::atomic_ref<uint8_t>(m.deviceInfo[i]).load(std::memory_order_acquire);
    // The stored bytes get the checks a fresh answer gets.
    const proto::IdentInfo info = proto::parseIdentReply(proto::buildIdentReply(stored, fieldString(m.deviceName)));
    multiLevel_ = variant_.allowsMultiLevel() && info.multiLevel;
    variant_.afterIdentification(*this, info);
}

void DriverPlugin::markSlotChanged(int32_t slot) {
    if (!isSlot(slot)) return;
    PortDataMap& m = *map();
    if (loadWord(m.textCells) != 0) storeWord(m.slots[slot].textChanged, 2);
    if (int64_t{loadWord(m.graphicWidth)} * int64_t{loadWord(m.graphicHeight)} != 0)
        storeWord(m.slots[slot].graphicChanged, 2);
}

void DriverPlugin::followForeground(int32_t foregroundPid) {
    PortDataMap& m = *map();
    if (loadWord(m.screenReaderFirst) != 0) return;
    int32_t slot = -1;
    if (foregroundPid > 0) {
        for (int32_t k = 0; k < kSlotCount; ++k) {
            if (loadWord(m.slots[k].processId) == foregroundPid) {
                slot = k;
                break;
            }
        }
    }
    const int32_t flags = isSlot(slot) ? loadWord(m.slots[slot].displayFlags) : 0;
    if (isSlot(slot) && (flags & kDisplayModeOn) && !(flags & kDisplaySuspended)) {
        if (loadWord(m.foregroundSlot) == slot) return;
        storeWord(m.foregroundSlot, slot);
        monitor.refresh(&m, slot);
        markSlotChanged(slot);
        storeWord(m.displayRequest, slot);
    } else {
        if (loadWord(m.foregroundSlot) == -1) return;
        storeWord(m.foregroundSlot, -1);
        const int32_t def = loadWord(m.defaultSlot);
        if (isSlot(def)) {
            monitor.refresh(&m, def);
            markSlotChanged(def);
        }
        storeWord(m.displayRequest, def);
    }
}

void DriverPlugin::showSlot(int32_t request) {
    PortDataMap& m = *map();
    // The request names the slot shown whole, unless it names a claimant of a
    // part only (a braille server writing its line while another slot is in front).
    const int32_t textClaimant = claimant(m, kClaimsTextLine);
    const int32_t pinClaimant = claimant(m, kClaimsPinField);
    const int32_t inFront = eventAddressee(m);
    const bool partOnly = isSlot(request) && (request == textClaimant || request == pinClaimant) && request != inFront;
    const int32_t shown = partOnly ? inFront : request;
    const DisplaySources from = displaySources(m, shown);

    // A part whose source changed is sent in full (or cleared when it has none
    // now); a change of the slot shown whole brings the parts claimed by others
    // again too (it was just put in front, or a request was merged into it).
    bool textDue = from.text != textSource_, graphicDue = from.graphic != graphicSource_;
    if (isSlot(shown)) {
        if (from.text != shown && takeWord(m.slots[shown].textChanged)) textDue = true;
        if (from.graphic != shown && takeWord(m.slots[shown].graphicChanged)) graphicDue = true;
    }
    std::array<uint8_t, kTextBytes> text{};
    const int32_t cells = loadWord(m.textCells);
    const bool hasText = cells > 0 && cells <= kTextBytes;
    std::optional<GraphicCopy> graphic;
    // Each source is copied under its busy flag (one hold when one slot gives both).
    const bool oneSource = isSlot(from.text) && from.text == from.graphic;
    if (isSlot(from.text)) {
        if (!takeSlotBusy(m, from.text, 1000)) {
            exchangeWord(m.displayRequest, kRequestSending, request);  // try again next turn
            return;
        }
        ClientSlot& s = m.slots[from.text];
        if (takeWord(s.textChanged)) textDue = true;
        if (textDue && hasText) std::memcpy(text.data(), s.text, static_cast<std::size_t>(cells));
        if (oneSource) {
            monitor.refresh(&m, from.graphic, true);
            if (takeWord(s.graphicChanged)) graphicDue = true;
            if (graphicDue) graphic = copyGraphic(s);
        }
        setSlotBusy(m, from.text, 0);
    }
    if (isSlot(from.graphic) && !oneSource) {
        if (!takeSlotBusy(m, from.graphic, 1000)) {
            if (textDue && hasText) sendText({text.data(), static_cast<std::size_t>(cells)}, cells);
            textSource_ = from.text;
            exchangeWord(m.displayRequest, kRequestSending, request);
            return;
        }
        ClientSlot& s = m.slots[from.graphic];
        monitor.refresh(&m, from.graphic, true);
        if (takeWord(s.graphicChanged)) graphicDue = true;
        if (graphicDue) graphic = copyGraphic(s);
        setSlotBusy(m, from.graphic, 0);
    }

    // With no source a part is blank.
    if (textDue && hasText) sendText({text.data(), static_cast<std::size_t>(cells)}, cells);
    textSource_ = from.text;
    if (graphic)
        sendGraphic(from.graphic, *graphic);
    else if (graphicDue && !isSlot(from.graphic))
        clearGraphic();
    graphicSource_ = from.graphic;
}

void DriverPlugin::showNothingWhole() {
    PortDataMap& m = *map();
    if (claimant(m, kClaimsTextLine) < 0 && claimant(m, kClaimsPinField) < 0)
        clearDisplay();
    else
        showSlot(kNoRequest);
}

void DriverPlugin::sendText(std::span<const uint8_t> text, int cells) {
    std::array<uint8_t, kTextBytes> buf{};
    std::memcpy(buf.data(), text.data(), static_cast<std::size_t>(cells));
    link()->writeFrame(proto::host::kText, 0, {buf.data(), static_cast<std::size_t>(cells)});
}

std::optional<DriverPlugin::GraphicCopy> DriverPlugin::copyGraphic(ClientSlot& s) {
    PortDataMap& m = *map();
    const int32_t w = loadWord(m.graphicWidth), h = loadWord(m.graphicHeight);
    if (!validGraphicSize(w, h)) return std::nullopt;
    const std::size_t n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    std::memcpy(dots_.data(), s.graphic, n);
    return GraphicCopy{w, h, loadWord(s.graphicFormat), loadWord(s.planeLevel)};
}

void DriverPlugin::sendGraphic(int32_t slot, const GraphicCopy& g) {
    const std::size_t n = static_cast<std::size_t>(g.width) * static_cast<std::size_t>(g.height);
    if (multiLevel() && g.format != 0) {
        sendMultiLevel({dots_.data(), n}, g.width, g.height, g.format, static_cast<uint8_t>(slot));
        return;
    }
    variant_.sendTwoPlaneGraphic(*this, {dots_.data(), n}, g.width, g.height,
                                 proto::secondPlaneParameter(g.planeLevel));
}

void DriverPlugin::sendMultiLevel(std::span<const uint8_t> dots, int width, int height, int format,
                                  uint8_t parameter) {
    std::size_t size = 0;
    if (proto::isMultiLevelFormat(format)) {
        size = proto::multiLevelPackedSize(width, height, format);
        if (size == 0 || size > proto::kMaxMultiLevelBytes) return;
        if (proto::packMultiLevel(dots, width, height, format,
                                  {packed_.data() + proto::kMultiLevelHeaderSize, size}) != size)
            return;
    }
    // An undefined format sends the header alone.
    const auto header = proto::multiLevelHeader(true, format, width, height);
    std::memcpy(packed_.data(), header.data(), header.size());
    if (link()->writeFrame(proto::host::kMultiLevel, parameter, {packed_.data(), header.size() + size}))
        link()->waitReplyByte(static_cast<int>(proto::kMultiLevelReplyWaitMs), &commStop_);
}

void DriverPlugin::clearDisplay() {
    PortDataMap& m = *map();
    monitor.refresh(&m, -1);
    const int32_t cells = loadWord(m.textCells);
    if (cells >= 0 && cells <= kTextBytes) {
        std::array<uint8_t, kTextBytes> zeros{};
        link()->writeFrame(proto::host::kText, 0, {zeros.data(), static_cast<std::size_t>(cells)});
    }
    textSource_ = -1;
    clearGraphic();
}

void DriverPlugin::clearGraphic() {
    PortDataMap& m = *map();
    graphicSource_ = -1;
    const int32_t w = loadWord(m.graphicWidth), h = loadWord(m.graphicHeight);
    if (!validGraphicSize(w, h)) return;
    if (multiLevel()) {
        const auto header = proto::multiLevelHeader(false, 1, w, h);
        if (link()->writeFrame(proto::host::kMultiLevel, proto::kMultiLevelClearSlot, header))
            link()->waitReplyByte(static_cast<int>(proto::kMultiLevelReplyWaitMs), &commStop_);
    } else {
        variant_.sendClearGraphic(*this, w, h);
    }
}

}  // namespace tavik::drv
