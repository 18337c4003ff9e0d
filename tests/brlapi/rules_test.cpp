// The braille server's pure rules by value: framing limits, the write and tty
// layouts, key ranges, the key table, cells and the owner of the display.
#include <gtest/gtest.h>

#include "brlapi/cells.h"
#include "brlapi/charset.h"
#include "brlapi/endpoint.h"
#include "brlapi/key_filter.h"
#include "brlapi/keymap.h"
#include "brlapi/owner.h"
#include "brlapi/protocol.h"

using namespace tavik::brl;

namespace {

std::vector<uint8_t> u32s(std::initializer_list<uint32_t> v) {
    std::vector<uint8_t> b;
    for (uint32_t x : v) putU32(b, x);
    return b;
}

}  // namespace

TEST(Framing, PacketsSplitAnywhereComeOutWholeAndOversizeStops) {
    std::vector<uint8_t> stream = encodePacket(pkt::kWrite, std::vector<uint8_t>{1, 2, 3});
    const auto second = encodePacket(pkt::kSynchronize, {});
    stream.insert(stream.end(), second.begin(), second.end());
    PacketReader r;
    std::vector<Packet> got;
    for (uint8_t byte : stream) ASSERT_EQ(r.feed({&byte, 1}, got), PacketReader::Result::Ok);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].type, pkt::kWrite);
    EXPECT_EQ(got[0].body, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(got[1].type, pkt::kSynchronize);
    EXPECT_FALSE(r.midPacket());

    // 4096 content bytes pass, 4097 are refused at the header.
    PacketReader big;
    std::vector<Packet> none;
    auto head = u32s({4097, 'w'});
    EXPECT_EQ(big.feed(head, none), PacketReader::Result::Oversized);
    EXPECT_EQ(big.oversizedType(), pkt::kWrite);
    PacketReader fits;
    auto ok = encodePacket('w', std::vector<uint8_t>(4096, 7));
    EXPECT_EQ(fits.feed(ok, none), PacketReader::Result::Ok);
    EXPECT_EQ(none.size(), 1u);
}

TEST(Write, FieldsInFlagOrderAndBoundsOfTheDisplay) {
    // Region 3..5, text "abc", an OR mask, cursor 4, charset.
    auto body = u32s({wf::kRegion | wf::kText | wf::kOrMask | wf::kCursor | wf::kCharset, 3, 3, 3});
    body.insert(body.end(), {'a', 'b', 'c', 0x40, 0, 0x80});
    auto tail = u32s({4});
    body.insert(body.end(), tail.begin(), tail.end());
    body.insert(body.end(), {5, 'U', 'T', 'F', '-', '8'});
    auto w = parseWrite(body, 32);
    ASSERT_TRUE(w.request);
    EXPECT_EQ(w.request->begin, 3u);
    EXPECT_EQ(w.request->size, 3u);
    EXPECT_EQ(*w.request->text, (std::vector<uint8_t>{'a', 'b', 'c'}));
    EXPECT_EQ(*w.request->orMask, (std::vector<uint8_t>{0x40, 0, 0x80}));
    EXPECT_EQ(*w.request->cursor, 4u);
    EXPECT_EQ(w.request->charset, "UTF-8");

    // The last cell is reachable, one more is past the display.
    EXPECT_TRUE(parseWrite(u32s({wf::kRegion, 32, 1}), 32).request);
    auto past = parseWrite(u32s({wf::kRegion, 30, 10}), 32);
    EXPECT_FALSE(past.request);
    EXPECT_EQ(past.error, ErrorCode::InvalidParameter);
    EXPECT_EQ(parseWrite(u32s({wf::kRegion, 0, 1}), 32).error, ErrorCode::InvalidParameter);
    // A region whose end wraps 32 bits is still past the display.
    EXPECT_EQ(parseWrite(u32s({wf::kRegion, 0xFFFFFFFFu, 2}), 32).error, ErrorCode::InvalidParameter);
    EXPECT_EQ(parseWrite(u32s({wf::kCursor, 33}), 32).error, ErrorCode::InvalidParameter);
    // Negative size: the rest of the display from the region on.
    auto rest = parseWrite(u32s({wf::kRegion, 5, static_cast<uint32_t>(-3)}), 32);
    ASSERT_TRUE(rest.request);
    EXPECT_TRUE(rest.request->fillRest);
    EXPECT_EQ(rest.request->size, 3u);
    // Text longer than the packet, a mask cut short, bytes left over, unknown flags.
    EXPECT_EQ(parseWrite(u32s({wf::kText, 100}), 32).error, ErrorCode::InvalidPacket);
    auto shortMask = u32s({wf::kRegion | wf::kAndMask, 1, 4});
    shortMask.insert(shortMask.end(), {1, 2, 3});
    EXPECT_EQ(parseWrite(shortMask, 32).error, ErrorCode::InvalidPacket);
    EXPECT_EQ(parseWrite(u32s({wf::kCursor, 1, 9}), 32).error, ErrorCode::InvalidPacket);
    EXPECT_EQ(parseWrite(u32s({0x80}), 32).error, ErrorCode::InvalidPacket);
}

TEST(TtyRequest, PathCountIsCheckedBeforeItSizesAnything) {
    auto body = u32s({2, 7, 1});
    body.insert(body.end(), {0});
    auto t = parseTtyRequest(body);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->path, (std::vector<uint32_t>{7, 1}));
    EXPECT_EQ(t->driver, "");
    EXPECT_FALSE(parseTtyRequest(u32s({0x40000000u, 1})));  // count far past the content
    auto named = u32s({0});
    named.insert(named.end(), {3, 'a', 'b'});  // name cut short
    EXPECT_FALSE(parseTtyRequest(named));
}

TEST(KeyFilter, LatestRangeDecidesAndFlagsBoundTheCodes) {
    const uint64_t left = key::command(key::kWindowLeft), right = key::command(key::kWindowRight);
    KeyFilter f;
    EXPECT_TRUE(f.accepts(left));
    ASSERT_TRUE(f.ignore({0, ~0ull}));
    EXPECT_FALSE(f.accepts(left));
    ASSERT_TRUE(f.accept({right, right}));
    EXPECT_TRUE(f.accepts(right));
    EXPECT_FALSE(f.accepts(left));
    // Routing keys: any cell, no flags; the same code with a flag set stays ignored.
    ASSERT_TRUE(f.accept({key::command(key::kCommandRoute), key::command(key::kCommandRoute | 0xFFFF)}));
    EXPECT_TRUE(f.accepts(key::command(key::kCommandRoute | 31)));
    EXPECT_FALSE(f.accepts((uint64_t{1} << 32) | key::command(key::kCommandRoute | 31)));
    // Ignoring everything again forgets the list instead of growing it.
    ASSERT_TRUE(f.ignore({0, ~0ull}));
    EXPECT_EQ(f.ranges(), 1u);
    for (std::size_t i = 1; i < KeyFilter::kMaxRanges; ++i) ASSERT_TRUE(f.accept({i, i}));
    EXPECT_FALSE(f.accept({5000, 5000}));
}

TEST(KeyTable, PanningRoutingAndTheDestinationChord) {
    using K = MappedKey::Kind;
    EXPECT_EQ(mapDeviceKey({4, navkey::kLeft, 0}, 32).code, key::command(23));
    EXPECT_EQ(mapDeviceKey({4, navkey::kRight, 0}, 32).code, key::command(24));
    EXPECT_EQ(mapDeviceKey({4, navkey::kUp, 0}, 32).code, key::command(1));
    EXPECT_EQ(mapDeviceKey({4, navkey::kDown, 0}, 32).code, key::command(2));
    EXPECT_EQ(mapDeviceKey({2, 13, 0}, 32).code, key::command(0x10000));
    EXPECT_EQ(mapDeviceKey({2, 44, 0}, 32).code, key::command(0x10000 | 31));
    EXPECT_EQ(mapDeviceKey({2, 45, 0}, 32).kind, K::None);  // no cell 33
    EXPECT_EQ(mapDeviceKey({2, 30, 0}, 9).kind, K::None);   // past a shorter display
    EXPECT_EQ(mapDeviceKey({4, navkey::kDecrease | navkey::kIncrease, 0}, 32).kind, K::SwitchDestination);
    EXPECT_EQ(mapDeviceKey({4, navkey::kHome | navkey::kEnd, 0}, 32).kind, K::None);
    // The function keys read the braille from the text line alone.
    EXPECT_EQ(mapDeviceKey({2, 3, 0}, 32).code, key::command(2));   // line down
    EXPECT_EQ(mapDeviceKey({2, 8, 0}, 32).code, key::command(24));  // window right
    EXPECT_EQ(mapDeviceKey({2, 9, 0}, 32).code, key::command(23));  // window left
    EXPECT_EQ(mapDeviceKey({2, 4, 0}, 32).kind, K::None);
    EXPECT_EQ(mapDeviceKey({4, navkey::kLeft | navkey::kUp, 0}, 32).kind, K::None);
    EXPECT_EQ(mapDeviceKey({1, 5, 0}, 32).kind, K::None);
}

TEST(Cells, DeviceOrderCursorAndPinField) {
    EXPECT_EQ(toDeviceOrder(0x01), 0x80);  // dot 1
    EXPECT_EQ(toDeviceOrder(0x08), 0x08);  // dot 4
    EXPECT_EQ(toDeviceOrder(0x40), 0x10);  // dot 7
    EXPECT_EQ(toDeviceOrder(0x80), 0x01);  // dot 8
    EXPECT_EQ(toDeviceOrder(0x3F), 0xEE);  // dots 1-6

    const std::vector<uint8_t> dots = {0x01, 0x02, 0x03};
    EXPECT_EQ(composeCells(dots, std::vector<uint8_t>{0xFF, 0x00, 0xFE}, std::vector<uint8_t>{0, 0x08, 0}, 3),
              (std::vector<uint8_t>{0x01, 0x08, 0x02 | 0xC0}));

    EXPECT_EQ(pinGrid(64, 48).columns, 21);
    EXPECT_EQ(pinGrid(64, 48).rows, 9);
    EXPECT_EQ(pinGrid(48, 32).columns, 16);
    EXPECT_EQ(pinGrid(48, 32).rows, 6);
    EXPECT_EQ(pinGrid(1, 48).columns, 0);
    // Cell 22 (row 1, column 0) with dots 1 and 8: pins (0, 5) and (1, 8).
    std::vector<uint8_t> cells(22, 0);
    cells[21] = 0x81;
    auto plane = drawOnPins(cells, pinGrid(64, 48), 64, 48);
    ASSERT_EQ(plane.size(), 64u * 6);
    EXPECT_EQ(plane[0 * 64 + 0], 1u << 5);
    EXPECT_EQ(plane[1 * 64 + 1], 1u << 0);
    EXPECT_EQ(std::count_if(plane.begin(), plane.end(), [](uint8_t b) { return b != 0; }), 2);
}

TEST(Owner, HighestPriorityThenLatestAndZeroNeverShows) {
    std::vector<OwnerCandidate> c = {{true, 50, 1}, {true, 50, 2}, {false, 90, 3}, {true, 0, 4}};
    EXPECT_EQ(pickOwner(c), 1u);
    c[0].priority = 70;
    EXPECT_EQ(pickOwner(c), 0u);
    c[0].inTty = c[1].inTty = false;
    EXPECT_FALSE(pickOwner(c));
}

TEST(Endpoint, OnlyThisMachine) {
    EXPECT_EQ(parseHost(":3")->path("/var/lib/BrlAPI"), "/var/lib/BrlAPI/3");
    EXPECT_EQ(parseHost("127.0.0.1:2")->port(), 4103);
    EXPECT_EQ(parseHost("localhost")->host(), "127.0.0.1:0");
    EXPECT_FALSE(parseHost("example.org:1"));
    EXPECT_FALSE(parseHost("0.0.0.0:1"));
    EXPECT_FALSE(parseHost(":100"));
    EXPECT_FALSE(parseHost(":1x"));
}

TEST(Charset, StrictUtf8LatinOneAndWideCharacters) {
    const std::vector<uint8_t> e = {0xC3, 0xA9};
    EXPECT_EQ(decodeText(e, "utf-8"), std::u32string(U"\u00e9"));
    EXPECT_EQ(decodeText(e, "ISO-8859-1"), std::u32string(U"\u00c3\u00a9"));
    EXPECT_FALSE(decodeText(std::vector<uint8_t>{0xC0, 0xAF}, "UTF-8"));        // overlong '/'
    EXPECT_FALSE(decodeText(std::vector<uint8_t>{0xED, 0xA0, 0x80}, "UTF-8"));  // a surrogate
    EXPECT_FALSE(decodeText(std::vector<uint8_t>{0xE2, 0xA0}, "UTF-8"));        // cut short
    // No name: UTF-8 when it is, else Latin-1.
    EXPECT_EQ(decodeText(std::vector<uint8_t>{0xE9}, ""), std::u32string(U"\u00e9"));
    // The wide characters of the client's C library (through iconv).
    const char32_t wide[2] = {U'\u2801', U'a'};
    const auto* p = reinterpret_cast<const uint8_t*>(wide);
    EXPECT_EQ(decodeText({p, sizeof wide}, "WCHAR_T"), std::u32string(U"\u2801a"));
    EXPECT_FALSE(decodeText(e, "NO-SUCH-SET"));
}
