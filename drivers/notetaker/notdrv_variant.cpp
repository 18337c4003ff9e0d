// Notdrv: the braille note-taker as a small tactile display on a serial port.
// Its graphic is a row of braille cells (frame 0x32), it takes no multi-level
// frames, its keys come as 0xF0 frames, and it is put into and out of its
// display mode after identification and at thread end.
#include <array>
#include <atomic>

#include "common/model_traits.h"
#include "drivers/core/plugin.h"
#include "planes.h"

namespace tavik::drv {
namespace {

class NoteTakerVariant final : public ProtocolVariant {
public:
    const proto::ReactionTable& reactions() const override { return proto::kNoteTakerReactions; }
    bool allowsMultiLevel() const override { return traitsOf(Model::Notaro).multiLevel; }

    // The two planes go as one braille graphic frame of 2 x cellCount cells.
    void sendTwoPlaneGraphic(DriverPlugin& plugin, std::span<const uint8_t> dots, int width, int height,
                             uint8_t level) override {
        (void)level;
        const int cells = cellCount_.load();
        if (!proto::isBrailleCellCount(cells)) return;
        std::array<uint8_t, 2 * proto::kNoteTakerMaxCells> payload{};
        const std::size_t n = proto::packBrailleGraphic(dots, width, height, cells, payload);
        if (n == 0) return;
        plugin.link()->writeFrame(proto::host::kBrailleGraphic, 0, {payload.data(), n});
    }

    // Clearing is the braille graphic frame with every cell empty.
    void sendClearGraphic(DriverPlugin& plugin, int width, int height) override {
        (void)width;
        (void)height;
        const int cells = cellCount_.load();
        if (!proto::isBrailleCellCount(cells)) return;
        static constexpr std::array<uint8_t, 2 * proto::kNoteTakerMaxCells> kBlank{};
        plugin.link()->writeFrame(proto::host::kBrailleGraphic, 0, {kBlank.data(), 2 * static_cast<std::size_t>(cells)});
    }

    // Byte 5 of the reply gives the cell count when it is plausible (16..46);
    // otherwise the previous count stays. Then the device enters display mode.
    void afterIdentification(DriverPlugin& plugin, const proto::IdentInfo& info) override {
        if (info.noteTakerCells != 0) cellCount_ = info.noteTakerCells;
        plugin.link()->writeFrame(proto::host::kNoteTakerMode, 0, proto::kNoteTakerModePayload);
    }

    void atThreadEnd(DriverPlugin& plugin) override { plugin.link()->writeFrame(proto::host::kNoteTakerEnd, 0, {}); }

private:
    // The device's cell count: 16 until an identification gives another; kept across starts.
    std::atomic<int> cellCount_{16};
};

}  // namespace

ProtocolVariant& pluginVariant() {
    static NoteTakerVariant variant;
    return variant;
}

}  // namespace tavik::drv
