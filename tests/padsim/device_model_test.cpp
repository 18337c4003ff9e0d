// The virtual display's device model against frames made by the protocol
// library's own encoders: every picture must come back exactly, and the
// events it sends must parse on the computer side.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "device_model.h"
#include "event_bytes.h"
#include "frame.h"
#include "frame_parser.h"
#include "host_frame_reader.h"
#include "identification.h"
#include "planes.h"
#include "rle.h"
#include "state_file.h"

using namespace padsim;
namespace proto = tavik::proto;

namespace {

std::vector<uint8_t> randomImage(int w, int h, unsigned maxValue, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> img(static_cast<size_t>(w * h));
    for (auto& d : img) d = static_cast<uint8_t>(rng() % (maxValue + 1));
    return img;
}

std::vector<uint8_t> wire(uint8_t cmd, uint8_t param, std::span<const uint8_t> payload) {
    return DeviceModel::frame(cmd, param, payload);
}

// Feeds wire bytes through the device's frame reader into the model.
struct Device {
    DeviceModel model;
    HostFrameReader reader;
    std::vector<uint8_t> replies;
    std::vector<FrameOutcome> outcomes;
    size_t junk = 0;
    explicit Device(DeviceConfig c)
        : model(std::move(c)),
          reader([this](const HostFrame& f) {
                     outcomes.push_back(model.handle(f));
                     replies.insert(replies.end(), outcomes.back().reply.begin(), outcomes.back().reply.end());
                 },
                 [this](std::span<const uint8_t> b) { junk += b.size(); }) {}
    void send(const std::vector<uint8_t>& bytes, uint64_t now = 0) { reader.feed(bytes, now); }
};

// The two compressed planes a tactile display plug-in sends for a slot graphic.
void sendTwoPlanes(Device& d, const std::vector<uint8_t>& img, int w, int h, uint8_t level, bool compressed) {
    for (int plane : {1, 2}) {
        std::vector<uint8_t> packed(proto::planeSize(w, h));
        ASSERT_EQ(proto::packPlane(img, w, h, plane, packed), packed.size());
        const uint8_t param = plane == 1 ? 0 : level;
        if (compressed) {
            std::vector<uint8_t> coded(proto::rleMaxEncodedSize(packed.size()));
            coded.resize(proto::rleEncode(packed, coded));
            d.send(wire(proto::host::kPlaneRle, param, coded));
        } else {
            d.send(wire(proto::host::kPlaneRaw, param, packed));
        }
    }
}

}  // namespace

TEST(PadsimDevice, IdentificationReplies) {
    {
        Device d{DeviceConfig{}};
        d.send(wire(0x10, 0, {}));
        ASSERT_EQ(d.replies.size(), 32u);
        const auto info = proto::parseIdentReply(d.replies);
        EXPECT_EQ(info.nameView(), "PX-64");
        EXPECT_FALSE(info.multiLevel);
        EXPECT_EQ(info.noteTakerCells, 0);
    }
    {
        DeviceConfig c;
        c.model = "Notaro";
        c.setMultiLevel(true);
        c.setNoteTakerCells(40);
        Device d{c};
        d.send(wire(0x10, 0, {}));
        const auto info = proto::parseIdentReply(d.replies);
        EXPECT_EQ(info.nameView(), "Notaro");
        EXPECT_TRUE(info.multiLevel);
        EXPECT_EQ(info.noteTakerCells, 40);
        EXPECT_EQ(d.model.state().identifications, 1u);
    }
}

TEST(PadsimDevice, BareAnswers) {
    DeviceConfig c;
    c.answers[0x55] = {0xAA, 0xBB};
    c.answers.erase(0xA0);
    Device d{c};
    const uint8_t ccb[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    d.send(wire(proto::host::kV2Ccb, 3, ccb));
    EXPECT_TRUE(d.replies.empty());
    d.send(wire(0x55, 0, {}));
    EXPECT_EQ(d.replies, (std::vector<uint8_t>{0xAA, 0xBB}));
    d.replies.clear();
    const auto hdr = proto::multiLevelHeader(false, 1, 64, 48);
    d.send(wire(proto::host::kMultiLevel, 0xFF, hdr));
    EXPECT_EQ(d.replies, (std::vector<uint8_t>{0x00}));
    d.replies.clear();
    const uint8_t text[4] = {1, 2, 3, 4};
    d.send(wire(proto::host::kText, 0, text));
    EXPECT_TRUE(d.replies.empty());
}

TEST(PadsimDevice, TwoPlanesCompressedAndPlain) {
    for (bool compressed : {true, false}) {
        Device d{DeviceConfig{}};
        const auto img = randomImage(64, 48, 3, compressed ? 1 : 2);
        sendTwoPlanes(d, img, 64, 48, 12, compressed);
        const auto& st = d.model.state();
        EXPECT_EQ(st.errors, 0u);
        EXPECT_EQ(st.plane2Level, 12);
        for (size_t i = 0; i < img.size(); ++i) {
            ASSERT_EQ(st.plane1[i], img[i] == 1 ? 1 : 0) << i;
            ASSERT_EQ(st.plane2[i], img[i] >= 2 ? 1 : 0) << i;
        }
        int w = 0, h = 0;
        const auto pins = d.model.pinImage(w, h);
        EXPECT_EQ(pins[5], img[5] >= 2 ? 2 : img[5]);
    }
}

TEST(PadsimDevice, BadPlanesAreErrorsAndLeaveThePicture) {
    Device d{DeviceConfig{}};
    auto img = randomImage(64, 48, 1, 3);
    sendTwoPlanes(d, img, 64, 48, 10, true);
    const auto before = d.model.state().plane1;
    const uint8_t truncated[] = {0x7F, 1, 2};      // literal cut short
    const uint8_t tooShort[] = {0xFF, 0, 0x80, 0};  // 129 of 384 bytes
    const uint8_t overrun[] = {0xFF, 0, 0xFF, 0, 0xFF, 0, 0x80, 0};
    for (auto bad : {std::span<const uint8_t>(truncated), std::span<const uint8_t>(tooShort), std::span<const uint8_t>(overrun)})
        d.send(wire(proto::host::kPlaneRle, 0, bad));
    d.send(wire(proto::host::kPlaneRaw, 0, std::vector<uint8_t>(383, 0xFF)));
    EXPECT_EQ(d.model.state().errors, 4u);
    EXPECT_EQ(d.model.state().plane1, before);
}

TEST(PadsimDevice, MultiLevelEveryFormatAndClear) {
    DeviceConfig c;
    c.setMultiLevel(true);
    Device d{c};
    for (int f : {1, 2, 4, 8}) {
        const auto img = randomImage(64, 48, (1u << f) - 1, static_cast<unsigned>(f + 10));
        const auto hdr = proto::multiLevelHeader(true, f, 64, 48);
        std::vector<uint8_t> payload(hdr.begin(), hdr.end());
        payload.resize(8 + proto::multiLevelPackedSize(64, 48, f));
        ASSERT_GT(proto::packMultiLevel(img, 64, 48, f, std::span(payload).subspan(8)), 0u);
        d.send(wire(proto::host::kMultiLevel, 2, payload));
        EXPECT_EQ(d.model.state().levels, img) << "format " << f;
        EXPECT_EQ(d.model.state().multiLevelFormat, f);
        EXPECT_EQ(d.model.state().view, View::MultiLevel);
    }
    const auto clear = proto::multiLevelHeader(false, 1, 64, 48);
    d.send(wire(proto::host::kMultiLevel, proto::kMultiLevelClearSlot, clear));
    for (uint8_t v : d.model.state().levels) ASSERT_EQ(v, 0);
    EXPECT_EQ(d.model.state().errors, 0u);
    EXPECT_EQ(d.replies.size(), 5u);  // one answer byte per multi-level frame

    // Data shorter than the header announces is an error.
    auto hdr = proto::multiLevelHeader(true, 8, 64, 48);
    std::vector<uint8_t> shortPayload(hdr.begin(), hdr.end());
    shortPayload.resize(8 + 100);
    d.send(wire(proto::host::kMultiLevel, 0, shortPayload));
    EXPECT_EQ(d.model.state().errors, 1u);
}

TEST(PadsimDevice, NoteTakerLandscapeAndPortrait) {
    DeviceConfig c;
    c.setNoteTakerCells(40);
    Device d{c};
    for (auto [w, h] : {std::pair{64, 4}, std::pair{4, 32}}) {
        const auto img = randomImage(w, h, 2, static_cast<unsigned>(w));
        std::vector<uint8_t> payload(80);
        ASSERT_EQ(proto::packBrailleGraphic(img, w, h, 40, payload), 80u);
        d.send(wire(proto::host::kBrailleGraphic, 0, payload));
        ASSERT_EQ(d.model.state().braille, payload);
        std::vector<uint8_t> back(img.size());
        ASSERT_TRUE(proto::unpackBrailleGraphic(d.model.state().braille, w, h, 40, back));
        EXPECT_EQ(back, img) << w << "x" << h;
    }
    // The pin view shows the cells: 80 x 4 dots, top-left = bit 0x80 of cell 0.
    std::vector<uint8_t> payload(80, 0);
    payload[0] = 0x80;
    payload[40 + 1] = 0x01;  // plane 2, cell 1, right column bottom
    d.send(wire(proto::host::kBrailleGraphic, 0, payload));
    int w = 0, h = 0;
    const auto pins = d.model.pinImage(w, h);
    ASSERT_EQ(w, 80);
    ASSERT_EQ(h, 4);
    EXPECT_EQ(pins[0], 1);
    EXPECT_EQ(pins[3 * 80 + 3], 2);

    const uint8_t mode[] = {0x02, 0x00};
    d.send(wire(proto::host::kNoteTakerMode, 0, mode));
    d.send(wire(proto::host::kNoteTakerEnd, 0, {}));
    EXPECT_TRUE(d.model.state().noteTakerModeSet);
    EXPECT_TRUE(d.model.state().noteTakerEnded);
}

TEST(PadsimDevice, TextCells) {
    Device d{DeviceConfig{}};
    std::vector<uint8_t> text(32);
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<uint8_t>(0x80 | i);
    d.send(wire(proto::host::kText, 0, text));
    EXPECT_EQ(d.model.state().text, text);
    // A shorter frame clears the cells it does not cover; a longer one is cut.
    const uint8_t three[] = {1, 2, 3};
    d.send(wire(proto::host::kText, 0, three));
    EXPECT_EQ(d.model.state().text[2], 3);
    EXPECT_EQ(d.model.state().text[3], 0);
    d.send(wire(proto::host::kText, 0, std::vector<uint8_t>(40, 7)));
    EXPECT_EQ(d.model.state().text, std::vector<uint8_t>(32, 7));
    const std::string s = stateText(d.model);
    EXPECT_NE(s.find("\ntext 0707070707"), std::string::npos);
    EXPECT_NE(s.find("\nframes_received 3\n"), std::string::npos);
}

TEST(PadsimDevice, EventFramesParseOnTheComputerSide) {
    struct Sink : proto::ParserSink {
        std::vector<std::pair<uint8_t, std::vector<uint8_t>>> frames;
        std::vector<uint8_t> params;
        void onFrame(const proto::ParsedFrame& f) override {
            frames.push_back({f.command, {f.payload.begin(), f.payload.end()}});
            params.push_back(f.parameter);
        }
        void onStray(std::span<const uint8_t>) override { ADD_FAILURE() << "stray bytes"; }
    } sink;
    auto parser = std::make_unique<proto::FrameParser>(sink);
    DeviceModel tactile{DeviceConfig{}};
    DeviceConfig ntc;
    ntc.setNoteTakerCells(16);
    DeviceModel noteTaker{ntc};
    const uint8_t key[4] = {4, 1, 0, 0};
    const uint8_t bc[4] = {0x10, 0x20, 0x00, 0x00};
    const uint8_t data[3] = {9, 8, 7};
    for (const auto& bytes : {tactile.keyFrame(key), DeviceModel::broadcastFrame(bc),
                              DeviceModel::dataBlockFrame(0x21, data), noteTaker.keyFrame(key)})
        parser->feed(bytes, 0);
    ASSERT_EQ(sink.frames.size(), 4u);
    EXPECT_EQ(proto::reactionFor(sink.frames[0].first).event, proto::DeviceEvent::Key);
    EXPECT_EQ(proto::eventParam(sink.frames[0].second), 0x0104u);
    EXPECT_EQ(proto::reactionFor(sink.frames[1].first).event, proto::DeviceEvent::Broadcast);
    EXPECT_EQ(proto::reactionFor(sink.frames[2].first).event, proto::DeviceEvent::DataBlock);
    EXPECT_EQ(sink.params[2], 0x21);
    EXPECT_EQ(sink.frames[2].second, (std::vector<uint8_t>{9, 8, 7}));
    EXPECT_EQ(sink.frames[3].first, 0xF0);
    EXPECT_EQ(proto::reactionFor(proto::kNoteTakerReactions, sink.frames[3].first).event, proto::DeviceEvent::Key);
}

TEST(PadsimDevice, ReaderResynchronisesAndDropsStalePartials) {
    Device d{DeviceConfig{}};
    // Junk, a lone marker, then FF FF FF 10 ...: the frame still parses.
    d.send({0x41, 0x00, 0xFF, 0x20, 0xFF, 0xFF, 0xFF, 0x10, 0, 0, 0});
    EXPECT_EQ(d.model.state().identifications, 1u);
    EXPECT_EQ(d.junk, 5u);
    // A frame split across reads.
    const uint8_t text[2] = {5, 6};
    const auto f = wire(proto::host::kText, 0, text);
    d.send({f.begin(), f.begin() + 4}, 100);
    d.send({f.begin() + 4, f.end()}, 200);
    EXPECT_EQ(d.model.state().text[1], 6);
    // A partial frame followed by a second of silence is dropped.
    d.send({0xFF, 0xFF, 0x91, 0, 5, 0, 1}, 300);
    d.reader.poll(1300);
    EXPECT_FALSE(d.reader.inFrame());
    d.send(wire(0x10, 0, {}), 1400);
    EXPECT_EQ(d.model.state().identifications, 2u);
}
