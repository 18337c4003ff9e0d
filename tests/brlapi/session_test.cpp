// One connection's state machine: the handshake, the answers each request
// gets, and what a write leaves in the client's window.
#include <gtest/gtest.h>

#include "brlapi/braille_table.h"
#include "brlapi/session.h"

using namespace tavik::brl;

namespace {

std::vector<uint8_t> u32s(std::initializer_list<uint32_t> v) {
    std::vector<uint8_t> b;
    for (uint32_t x : v) putU32(b, x);
    return b;
}

// The one packet an outcome sends, parsed back.
Packet only(const Outcome& o) {
    EXPECT_EQ(o.send.size(), 1u);
    if (o.send.empty()) return {};
    std::vector<Packet> got;
    PacketReader r;
    r.feed(o.send[0], got);
    return got.empty() ? Packet{} : got[0];
}

uint32_t code(const Packet& p) { return p.body.size() >= 4 ? (p.body[0] << 24 | p.body[1] << 16 | p.body[2] << 8 | p.body[3]) : ~0u; }

DisplayFacts facts() {
    DisplayFacts f;
    f.columns = 32;
    f.rows = 1;
    f.driverName = "Tavik";
    f.model = "QX-64X48";
    f.table = "en-us-comp8-ext.utb";
    f.renderedCells.assign(32, 0);
    return f;
}

Session ready() {
    Session s(AuthPolicy{true, {}});
    s.handle({pkt::kVersion, u32s({kProtocolVersion})}, facts());
    return s;
}

}  // namespace

TEST(Handshake, KeyIsCheckedAndNeverEchoed) {
    const std::vector<uint8_t> key = {'s', 'e', 'c', 'r', 'e', 't'};
    Session s(AuthPolicy{false, key});
    Packet offer = only(s.handle({pkt::kVersion, u32s({8})}, facts()));
    EXPECT_EQ(offer.type, pkt::kAuth);
    EXPECT_EQ(offer.body, u32s({auth::kKey}));
    // Nothing but the proof is taken before it.
    Outcome early = s.handle({pkt::kGetDisplaySize, {}}, facts());
    EXPECT_EQ(code(only(early)), 5u);
    EXPECT_TRUE(early.close);

    Session wrong(AuthPolicy{false, key});
    wrong.handle({pkt::kVersion, u32s({8})}, facts());
    auto guess = u32s({auth::kKey});
    guess.insert(guess.end(), {'s', 'e', 'c', 'r', 'e', 'x'});
    Outcome refused = wrong.handle({pkt::kAuth, guess}, facts());
    Packet e = only(refused);
    EXPECT_EQ(code(e), 17u);
    EXPECT_EQ(e.body.size(), 8u);  // code and type only: the guess does not come back
    EXPECT_TRUE(refused.close);

    Session right(AuthPolicy{false, key});
    right.handle({pkt::kVersion, u32s({8})}, facts());
    auto proof = u32s({auth::kKey});
    proof.insert(proof.end(), key.begin(), key.end());
    EXPECT_EQ(only(right.handle({pkt::kAuth, proof}, facts())).type, pkt::kAck);
    EXPECT_EQ(right.phase(), Session::Phase::Ready);

    Session old(AuthPolicy{true, {}});
    Outcome o = old.handle({pkt::kVersion, u32s({7})}, facts());
    EXPECT_EQ(code(only(o)), 13u);
    EXPECT_TRUE(o.close);
}

TEST(Requests, AnswersErrorsAndRefusedModes) {
    Session s = ready();
    EXPECT_EQ(only(s.handle({pkt::kGetDisplaySize, {}}, facts())).body, u32s({32, 1}));
    Packet name = only(s.handle({pkt::kGetDriverName, {}}, facts()));
    EXPECT_EQ(std::string(name.body.begin(), name.body.end()), std::string("Tavik", 6));
    // Writes and key ranges before tty mode, raw mode, suspend, leave without enter.
    Packet early = only(s.handle({pkt::kWrite, u32s({0})}, facts()));
    EXPECT_EQ(early.type, pkt::kException);
    EXPECT_EQ(code(early), 5u);
    EXPECT_EQ(code(only(s.handle({pkt::kEnterRawMode, u32s({0xdeadbeef})}, facts()))), 9u);
    EXPECT_EQ(code(only(s.handle({pkt::kSuspendDriver, u32s({0xdeadbeef})}, facts()))), 9u);
    EXPECT_EQ(code(only(s.handle({pkt::kLeaveTtyMode, {}}, facts()))), 5u);
    EXPECT_EQ(code(only(s.handle({'Q', {}}, facts()))), 4u);
    // Driver key codes are not offered; command keys are.
    auto driverKeys = u32s({0});
    driverKeys.insert(driverKeys.end(), {2, 'x', 'y'});
    EXPECT_EQ(code(only(s.handle({pkt::kEnterTtyMode, driverKeys}, facts()))), 9u);
    Outcome entered = s.handle({pkt::kEnterTtyMode, {0, 0, 0, 0, 0}}, facts());
    EXPECT_EQ(only(entered).type, pkt::kAck);
    EXPECT_TRUE(entered.displayChanged);
    EXPECT_EQ(code(only(s.handle({pkt::kEnterTtyMode, {0, 0, 0, 0, 0}}, facts()))), 5u);
}

TEST(Parameters, GetWatchAndPriority) {
    Session s = ready();
    Packet size = only(s.handle({pkt::kParamRequest, u32s({param::kGet, param::kDisplaySize, 0, 0})}, facts()));
    EXPECT_EQ(size.type, pkt::kParamValue);
    EXPECT_EQ(size.body, u32s({0, param::kDisplaySize, 0, 0, 32, 1}));
    EXPECT_EQ(code(only(s.handle({pkt::kParamRequest, u32s({param::kGet, 99, 0, 0})}, facts()))), 6u);
    // Watching without get is acknowledged; a change then comes as an update.
    EXPECT_EQ(only(s.handle({pkt::kParamRequest, u32s({param::kSubscribe, param::kDisplaySize, 0, 0})}, facts())).type,
              pkt::kAck);
    DisplayFacts pins = facts();
    pins.columns = 21, pins.rows = 9;
    pins.renderedCells.assign(189, 0);
    auto updates = s.updates(facts(), pins);
    ASSERT_EQ(updates.size(), 1u);
    std::vector<Packet> got;
    PacketReader().feed(updates[0], got);
    EXPECT_EQ(got[0].type, pkt::kParamUpdate);
    EXPECT_EQ(got[0].body, u32s({0, param::kDisplaySize, 0, 0, 21, 9}));

    Outcome set = s.handle({pkt::kParamValue, u32s({0, param::kClientPriority, 0, 0, 70})}, facts());
    EXPECT_EQ(only(set).type, pkt::kAck);
    EXPECT_TRUE(set.displayChanged);
    EXPECT_EQ(s.priority(), 70u);
    EXPECT_EQ(code(only(s.handle({pkt::kParamValue, u32s({0, param::kClientPriority, 0, 0, 101})}, facts()))), 6u);
    EXPECT_EQ(code(only(s.handle({pkt::kParamValue, u32s({0, param::kDisplaySize, 0, 0, 1, 1})}, facts()))), 18u);
}

TEST(Window, WritesFillTheRegionAndKeysFollowTheFilter) {
    Session s = ready();
    s.handle({pkt::kEnterTtyMode, {0, 0, 0, 0, 0}}, facts());
    // "é!" in UTF-8 at cells 2..3, with an AND mask and the cursor on cell 3.
    auto body = u32s({wf::kRegion | wf::kText | wf::kAndMask | wf::kCursor | wf::kCharset, 2, 2, 3});
    body.insert(body.end(), {0xC3, 0xA9, '!', 0x0F, 0xFF});
    auto cursor = u32s({3});
    body.insert(body.end(), cursor.begin(), cursor.end());
    body.insert(body.end(), {5, 'U', 'T', 'F', '-', '8'});
    EXPECT_TRUE(s.handle({pkt::kWrite, body}, facts()).send.empty());
    EXPECT_EQ(s.text().substr(0, 4), std::u32string(U" \u00e9! "));
    EXPECT_EQ(s.andMask()[1], 0x0F);
    EXPECT_EQ(s.cursor(), 3u);
    // Text longer than its region, and bytes that are not UTF-8, are refused.
    auto tooLong = u32s({wf::kRegion | wf::kText, 1, 1, 2});
    tooLong.insert(tooLong.end(), {'a', 'b'});
    EXPECT_EQ(code(only(s.handle({pkt::kWrite, tooLong}, facts()))), 6u);
    auto bad = u32s({wf::kRegion | wf::kText | wf::kCharset, 1, 1, 1});
    bad.insert(bad.end(), {0xFF, 5, 'U', 'T', 'F', '-', '8'});
    EXPECT_EQ(code(only(s.handle({pkt::kWrite, bad}, facts()))), 6u);

    const uint64_t left = key::command(key::kWindowLeft);
    EXPECT_FALSE(s.keyPacket(left).empty());
    auto range = u32s({0, static_cast<uint32_t>(left), 0, static_cast<uint32_t>(left)});
    EXPECT_EQ(only(s.handle({pkt::kIgnoreKeyRanges, range}, facts())).type, pkt::kAck);
    EXPECT_TRUE(s.keyPacket(left).empty());
    EXPECT_EQ(code(only(s.handle({pkt::kIgnoreKeyRanges, {1, 2, 3}}, facts()))), 7u);
}

TEST(Tables, TheLocaleChoosesAnInstalledComputerBrailleTable) {
    auto installed = [](const std::string& t) { return t == "de-de-comp8.ctb" || t == "en-gb-comp8.ctb"; };
    EXPECT_EQ(tableForLocale("de_DE.UTF-8", installed), "de-de-comp8.ctb");
    EXPECT_EQ(tableForLocale("en_GB.UTF-8", installed), "en-gb-comp8.ctb");
    EXPECT_EQ(tableForLocale("sv_SE.UTF-8", installed), "en-us-comp8-ext.utb");
    EXPECT_EQ(tableForLocale("C", installed), "en-us-comp8-ext.utb");
}
