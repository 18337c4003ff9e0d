// Receive parser: header recognition, stray bytes, payload rules, skipping,
// the store cap and the idle reset; reaction tables, event arguments and the
// identification reply.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "event_bytes.h"
#include "frame.h"
#include "frame_parser.h"
#include "identification.h"

using namespace tavik::proto;

namespace {

struct Captured {
    uint8_t command, parameter;
    uint16_t announced;
    uint32_t received;
    std::vector<uint8_t> payload;
    uint8_t after;  // byte following the stored payload
};

struct Recorder : ParserSink {
    std::vector<Captured> frames;
    std::vector<uint8_t> stray;
    void onFrame(const ParsedFrame& f) override {
        frames.push_back({f.command, f.parameter, f.announcedLength, f.receivedLength,
                          {f.payload.begin(), f.payload.end()}, f.payload.data()[f.payload.size()]});
    }
    void onStray(std::span<const uint8_t> b) override { stray.insert(stray.end(), b.begin(), b.end()); }
};

struct ParserTest : ::testing::Test {
    Recorder sink;
    std::unique_ptr<FrameParser> parser = std::make_unique<FrameParser>(sink);
    uint64_t now = 5000;

    void feed(const std::vector<uint8_t>& bytes) {
        for (uint8_t b : bytes) parser->step(b, now);
    }
    void frame(uint8_t cmd, uint8_t param, uint16_t len) {
        const auto h = frameHeader(cmd, param, len);
        feed({h.begin(), h.end()});
    }
};

}  // namespace

TEST_F(ParserTest, KeyFrameWithPayloadAndTerminator) {
    frame(0xE1, 7, 4);
    EXPECT_TRUE(sink.frames.empty());
    EXPECT_EQ(parser->step(uint8_t{1}, now), FrameParser::Step::Partial);
    feed({2, 3});
    EXPECT_EQ(parser->step(uint8_t{4}, now), FrameParser::Step::Complete);
    ASSERT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(sink.frames[0].command, 0xE1);
    EXPECT_EQ(sink.frames[0].parameter, 7);
    EXPECT_EQ(sink.frames[0].payload, (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(sink.frames[0].after, 0);
    EXPECT_TRUE(parser->waiting());
}

TEST_F(ParserTest, ZeroLengthCompletesWithHeader) {
    const auto h = frameHeader(0x10, 0, 0);
    for (size_t i = 0; i + 1 < h.size(); ++i) EXPECT_EQ(parser->step(h[i], now), FrameParser::Step::Partial);
    EXPECT_EQ(parser->step(h[5], now), FrameParser::Step::Complete);
    ASSERT_EQ(sink.frames.size(), 1u);
    EXPECT_TRUE(sink.frames[0].payload.empty());
    EXPECT_EQ(sink.frames[0].after, 0);
}

TEST_F(ParserTest, StrayBytesGoToReplyQueue) {
    feed({0x00});
    EXPECT_EQ(sink.stray, (std::vector<uint8_t>{0x00}));
    sink.stray.clear();
    feed({0xFF, 0x41});
    EXPECT_EQ(sink.stray, (std::vector<uint8_t>{0xFF, 0x41}));
    // After strays a frame is still recognised.
    frame(0x20, 0, 0);
    EXPECT_EQ(sink.frames.size(), 1u);
}

TEST_F(ParserTest, ThirdByteZeroOrTwoSkips48) {
    for (uint8_t third : {uint8_t{0x00}, uint8_t{0x02}}) {
        sink.frames.clear();
        feed({0xFF, 0xFF, third});
        // 48 bytes that would otherwise form a frame are dropped...
        std::vector<uint8_t> junk(48, 0xFF);
        feed(junk);
        EXPECT_TRUE(sink.frames.empty());
        EXPECT_TRUE(sink.stray.empty());
        // ...then parsing starts over.
        frame(0x11, 0, 0);
        EXPECT_EQ(sink.frames.size(), 1u);
    }
}

TEST_F(ParserTest, Cmd43EndsAtFirstZeroOrLength) {
    frame(0x43, 0, 5);
    feed({0x41, 0x42, 0x00});
    ASSERT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(sink.frames[0].payload, (std::vector<uint8_t>{0x41, 0x42, 0x00}));
    EXPECT_EQ(sink.frames[0].announced, 5);
    EXPECT_EQ(sink.frames[0].received, 3u);
    // The bytes after the early end start a new header.
    frame(0x43, 1, 2);
    feed({7, 8});
    ASSERT_EQ(sink.frames.size(), 2u);
    EXPECT_EQ(sink.frames[1].payload, (std::vector<uint8_t>{7, 8}));
    // L = 0 completes at once; L > 1024 is skipped by length.
    frame(0x43, 0, 0);
    EXPECT_EQ(sink.frames.size(), 3u);
    frame(0x43, 0, 1025);
    feed(std::vector<uint8_t>(1025, 0));
    EXPECT_EQ(sink.frames.size(), 3u);
    EXPECT_TRUE(sink.stray.empty());
    EXPECT_TRUE(parser->waiting());
}

TEST_F(ParserTest, LengthRulesSkipByLength) {
    // 0x41 must be 128: with 100 the next 100 bytes are dropped, even frame-like ones.
    frame(0x41, 0, 100);
    std::vector<uint8_t> inner;
    for (int i = 0; i < 16; ++i) {
        const auto h = frameHeader(0xE1, 0, 0);
        inner.insert(inner.end(), h.begin(), h.end());
    }
    inner.resize(100, 0x33);
    feed(inner);
    EXPECT_TRUE(sink.frames.empty());
    EXPECT_TRUE(sink.stray.empty());
    frame(0x40, 0, 0);
    ASSERT_EQ(sink.frames.size(), 1u);

    // Lengths that keep the rules.
    frame(0x41, 0, 128);
    feed(std::vector<uint8_t>(128, 0));
    frame(0x48, 0, 2);
    feed({1, 2});
    frame(0x4A, 0, 2);
    feed({3, 4});
    frame(0x49, 0, 128);
    feed(std::vector<uint8_t>(128, 5));
    EXPECT_EQ(sink.frames.size(), 5u);

    // Broken ones, including a zero-length skip.
    frame(0x48, 0, 3);
    feed({1, 2, 3});
    frame(0x49, 0, 0);
    frame(0x4A, 0, 1);
    feed({9});
    EXPECT_EQ(sink.frames.size(), 5u);
    EXPECT_TRUE(parser->waiting());
}

TEST_F(ParserTest, StoreCapCountsTheRest) {
    const uint16_t len = 16384 + 100;
    frame(0xE2, 3, len);
    std::vector<uint8_t> payload(len);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i % 251 + 1);
    feed(payload);
    ASSERT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(sink.frames[0].received, len);
    ASSERT_EQ(sink.frames[0].payload.size(), 16384u);
    EXPECT_TRUE(std::equal(sink.frames[0].payload.begin(), sink.frames[0].payload.end(), payload.begin()));
    EXPECT_EQ(sink.frames[0].after, 0);
    // The largest announceable payload does not overflow the count.
    frame(0xE2, 0, 0xFFFF);
    feed(std::vector<uint8_t>(0xFFFF, 1));
    ASSERT_EQ(sink.frames.size(), 2u);
    EXPECT_EQ(sink.frames[1].received, 0xFFFFu);
}

TEST_F(ParserTest, IdleResetAfterSilence) {
    frame(0xE1, 0, 4);
    feed({1, 2});
    EXPECT_EQ(parser->step(std::nullopt, now + 999), FrameParser::Step::Idle);
    EXPECT_FALSE(parser->waiting());
    EXPECT_EQ(parser->step(std::nullopt, now + 1000), FrameParser::Step::Idle);
    EXPECT_TRUE(parser->waiting());
    now += 1000;
    // The remaining bytes of the old frame are now stray; a new frame parses.
    feed({3});
    EXPECT_EQ(sink.stray, (std::vector<uint8_t>{3}));
    frame(0xE4, 0, 0);
    EXPECT_EQ(sink.frames.size(), 1u);

    // A byte arriving after the silence (without an idle poll between) also starts over.
    feed({0xFF, 0xFF, 0xE1});
    now += 1500;
    frame(0x20, 0, 0);
    ASSERT_EQ(sink.frames.size(), 2u);
    EXPECT_EQ(sink.frames[1].command, 0x20);
}

TEST(Reactions, TablesPerVariant) {
    EXPECT_EQ(reactionFor(0x10).replyBytes, 32);
    for (uint8_t c : {0x11, 0x20, 0x40, 0x41, 0x43, 0x48, 0x4A}) EXPECT_EQ(reactionFor(c).replyBytes, 1) << int(c);
    EXPECT_EQ(reactionFor(0x21).replyBytes, 2);
    EXPECT_EQ(reactionFor(0x49).replyBytes, 0);
    EXPECT_EQ(reactionFor(0xE1).event, DeviceEvent::Key);
    EXPECT_EQ(reactionFor(0xE2).event, DeviceEvent::DataBlock);
    EXPECT_EQ(reactionFor(0xE4).event, DeviceEvent::Broadcast);
    EXPECT_EQ(reactionFor(0xF0).event, DeviceEvent::None);
    EXPECT_EQ(reactionFor(0x77).replyBytes, 0);

    for (int c = 0; c < 256; ++c) {
        const auto t = kTactileReactions[c], n = kNoteTakerReactions[c];
        EXPECT_EQ(t.replyBytes, n.replyBytes) << c;  // bare answers are the same
        if (c != 0xE1 && c != 0xE2 && c != 0xE4 && c != 0xF0) {
            EXPECT_EQ(t.event, n.event) << c;
        }
    }
    EXPECT_EQ(reactionFor(kNoteTakerReactions, 0xF0).event, DeviceEvent::Key);
    for (uint8_t c : {0xE1, 0xE2, 0xE4}) EXPECT_EQ(reactionFor(kNoteTakerReactions, c).event, DeviceEvent::None);
}

TEST(EventBytes, ShortPayloadsReadAsZero) {
    const uint8_t four[] = {0x11, 0x22, 0x33, 0x44, 0x55};
    EXPECT_EQ(eventParam(four), 0x44332211u);
    const uint8_t two[] = {0x11, 0x22};
    EXPECT_EQ(eventParam(two), 0x2211u);
    EXPECT_EQ(eventParam({}), 0u);
    EXPECT_EQ(eventByte(0x44332211u, 3), 0x44);
}

TEST(Identification, ParseAndBuild) {
    const uint8_t info[8] = {1, 0, 2, 0, 0, 40, 0, 9};
    const auto reply = buildIdentReply(std::span<const uint8_t, 8>(info), "PX-64");
    const auto parsed = parseIdentReply(reply);
    EXPECT_TRUE(parsed.multiLevel);
    EXPECT_EQ(parsed.noteTakerCells, 40);
    EXPECT_EQ(parsed.nameView(), "PX-64");
    EXPECT_EQ(parsed.deviceInfo[7], 9);

    IdentReply raw{};
    raw[5] = 60;  // out of range: no cell count
    raw[2] = 1;
    for (size_t i = 8; i < 32; ++i) raw[i] = 'A';  // no terminating NUL
    const auto p2 = parseIdentReply(raw);
    EXPECT_FALSE(p2.multiLevel);
    EXPECT_EQ(p2.noteTakerCells, 0);
    EXPECT_EQ(p2.nameView().size(), 24u);
    EXPECT_EQ(parseIdentReply(std::span(raw).first(31)).nameView(), "");
}
