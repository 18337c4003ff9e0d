// The plug-in's sending side and its two threads against a scripted device, in-process, built
// once per plug-in (its variant comes from pluginVariant()): the limits of text, planes and
// multi-level graphics, the second plane's level, the reply queue, a busy send lock, and
// stopping while the device has not answered the identification.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>

#include "drivers/core/plugin.h"
#include "identification.h"
#include "planes.h"
#include "platform/atomic_word.h"
#include "protocol_constants.h"
#include "tests/drivers/scripted_transport.h"

// Which plug-in's variant this executable holds: 0 serial, 1 USB, 2 note-taker.
#ifndef TAVIK_SPINE_PLUGIN
#error "TAVIK_SPINE_PLUGIN must name the plug-in"
#endif

namespace {

using namespace tavik;
using namespace tavik::drv;
using tavik::drv::test::ScriptedDevice;
using tavik::drv::test::ScriptedTransport;
using tavik::drv::test::WrittenFrame;
using platform::loadWord;
using platform::storeWord;

constexpr bool kSerial = TAVIK_SPINE_PLUGIN == 0;
constexpr bool kUsb = TAVIK_SPINE_PLUGIN == 1;
constexpr bool kNoteTaker = TAVIK_SPINE_PLUGIN == 2;
constexpr int32_t kPort = 60 + TAVIK_SPINE_PLUGIN;
constexpr int32_t kSlot = 3;

// The plug-in's own variant, except that the device is the scripted one on any port.
class ScriptedVariant final : public ProtocolVariant {
public:
    explicit ScriptedVariant(ProtocolVariant& inner) : inner_(inner) {}
    std::shared_ptr<ScriptedDevice> device = std::make_shared<ScriptedDevice>();

    bool acceptsPort(const DriverPlugin&, int32_t) const override { return true; }
    std::unique_ptr<Transport> openTransport(DriverPlugin&, bool& refusedSilently) override {
        refusedSilently = false;
        return std::make_unique<ScriptedTransport>(device);
    }
    std::string releasedLine(const DriverPlugin&) const override { return "released"; }
    DeviceLink::FrameWrites frameWrites() const override { return inner_.frameWrites(); }
    const proto::ReactionTable& reactions() const override { return inner_.reactions(); }
    bool allowsMultiLevel() const override { return inner_.allowsMultiLevel(); }
    void sendTwoPlaneGraphic(DriverPlugin& p, std::span<const uint8_t> dots, int w, int h, uint8_t level) override {
        inner_.sendTwoPlaneGraphic(p, dots, w, h, level);
    }
    void sendClearGraphic(DriverPlugin& p, int w, int h) override { inner_.sendClearGraphic(p, w, h); }
    void afterIdentification(DriverPlugin& p, const proto::IdentInfo& info) override {
        inner_.afterIdentification(p, info);
    }
    void atThreadEnd(DriverPlugin& p) override { inner_.atThreadEnd(p); }

private:
    ProtocolVariant& inner_;
};

std::string settingsFolder() {
    static const std::string dir = [] {
        std::string d = (std::filesystem::temp_directory_path() / "tavik-spine-XXXXXX").string();
        if (!::mkdtemp(d.data())) std::abort();
        return d;
    }();
    return dir;
}

std::vector<WrittenFrame> framesOf(const std::vector<WrittenFrame>& all, uint8_t command) {
    std::vector<WrittenFrame> out;
    std::copy_if(all.begin(), all.end(), std::back_inserter(out), [&](const WrittenFrame& f) { return f.command == command; });
    return out;
}

// The plane frames of this plug-in (none for the note-taker, whose graphic is braille cells).
uint8_t planeCommand() { return kUsb ? proto::host::kPlaneRaw : proto::host::kPlaneRle; }

class PluginSpine : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_CONFIG_HOME", settingsFolder().c_str(), 1);
        ::unsetenv("DISPLAY");
        plugin_ = std::make_unique<DriverPlugin>(variant_);
        ASSERT_EQ(plugin_->init(kPort), 1);
        m_ = plugin_->map();
        ASSERT_NE(m_, nullptr);
        clearPortMap(*m_);
        storeWord(m_->portIndex, kPort);
    }
    void TearDown() override {
        if (hand_) plugin_->useSendingLink(nullptr);  // only when no communication thread runs
        plugin_->end();
    }

    // Steps driven by hand on this thread, over a link of its own.
    DeviceLink& handLink() {
        if (!hand_) {
            hand_ = std::make_shared<DeviceLink>(std::make_unique<ScriptedTransport>(variant_.device),
                                                 variant_.frameWrites());
            plugin_->useSendingLink(hand_.get());
        }
        return *hand_;
    }

    // A slot in display mode with a graphic of w x h (values 0..3 in a pattern) and changes to send.
    void fillSlot(int32_t w, int32_t h, int32_t textCells, int32_t format = 0, int32_t level = 0) {
        storeWord(m_->textCells, textCells);
        storeWord(m_->graphicWidth, w);
        storeWord(m_->graphicHeight, h);
        ClientSlot& s = m_->slots[kSlot];
        storeWord(s.processId, static_cast<int32_t>(::getpid()));
        storeWord(s.displayFlags, kDisplayModeOn);
        for (int i = 0; i < kTextBytes; ++i) s.text[i] = static_cast<char>(0x40 + i % 50);
        for (int i = 0; i < kGraphicBytes; ++i) s.graphic[i] = static_cast<uint8_t>((i * 7 + i / 13) % 4);
        storeWord(s.graphicFormat, format);
        storeWord(s.planeLevel, level);
        storeWord(s.textChanged, 1);
        storeWord(s.graphicChanged, 1);
    }

    ScriptedDevice& device() { return *variant_.device; }

    ScriptedVariant variant_{pluginVariant()};
    std::unique_ptr<DriverPlugin> plugin_;
    PortDataMap* m_ = nullptr;
    std::shared_ptr<DeviceLink> hand_;
};

TEST_F(PluginSpine, TextGoesUpToOneHundredTwentyEightCellsAndNoFurther) {
    handLink();
    fillSlot(0, 0, 128);
    plugin_->showSlot(kSlot);
    auto text = framesOf(device().frames(), proto::host::kText);
    ASSERT_EQ(text.size(), 1u);
    ASSERT_EQ(text[0].payload.size(), 128u);
    EXPECT_EQ(std::memcmp(text[0].payload.data(), m_->slots[kSlot].text, 128), 0);

    // A map claiming more cells than a slot holds sends no text at all (never past the slot).
    device().clearFrames();
    fillSlot(0, 0, 129);
    plugin_->showSlot(kSlot);
    EXPECT_TRUE(framesOf(device().frames(), proto::host::kText).empty());
    fillSlot(0, 0, -1);
    plugin_->showSlot(kSlot);
    EXPECT_TRUE(framesOf(device().frames(), proto::host::kText).empty());
}

TEST_F(PluginSpine, APlaneOfFiveHundredTwelveBytesGoesAndALargerOneDoesNot) {
    if (kNoteTaker) GTEST_SKIP() << "the note-taker sends braille cells, not planes";
    handLink();
    fillSlot(64, 64, 0);  // 64 columns x 8 bands: exactly 512 bytes a plane
    plugin_->showSlot(kSlot);
    const auto planes = framesOf(device().frames(), planeCommand());
    ASSERT_EQ(planes.size(), 2u);
    if (kUsb) {
        EXPECT_EQ(planes[0].payload.size(), 512u);
    }

    device().clearFrames();
    fillSlot(65, 64, 0);  // 520 bytes a plane
    plugin_->showSlot(kSlot);
    EXPECT_TRUE(framesOf(device().frames(), planeCommand()).empty());
}

TEST_F(PluginSpine, TheSecondPlaneCarriesTheSlotLevelAndTenForLevelZero) {
    if (kNoteTaker) GTEST_SKIP() << "the note-taker's braille frame has no level";
    handLink();
    for (const auto& [level, parameter] : {std::pair{0, 10}, std::pair{3, 3}, std::pair{300, 255}, std::pair{-4, 1}}) {
        device().clearFrames();
        fillSlot(48, 32, 0, 0, level);
        plugin_->showSlot(kSlot);
        const auto planes = framesOf(device().frames(), planeCommand());
        ASSERT_EQ(planes.size(), 2u) << level;
        EXPECT_EQ(planes[0].parameter, 0) << level;
        EXPECT_EQ(planes[1].parameter, parameter) << level;
    }
}

TEST_F(PluginSpine, MultiLevelRowsUpToNineThousandNineHundredNinetyNineBytes) {
    if (!variant_.allowsMultiLevel()) GTEST_SKIP() << "this plug-in never sends multi-level graphics";
    DeviceLink& link = handLink();
    plugin_->setMultiLevel(true);
    const uint8_t ack = 0;
    link.pushReply({&ack, 1});  // the device's answer, so the send does not wait for it
    fillSlot(99, 101, 0, 8);    // 8 bits a dot: 9999 bytes
    plugin_->showSlot(kSlot);
    auto multi = framesOf(device().frames(), proto::host::kMultiLevel);
    ASSERT_EQ(multi.size(), 1u);
    EXPECT_EQ(multi[0].payload.size(), proto::kMultiLevelHeaderSize + 9999);
    EXPECT_EQ(multi[0].parameter, kSlot);
    EXPECT_TRUE(framesOf(device().frames(), planeCommand()).empty());

    device().clearFrames();
    fillSlot(100, 100, 0, 8);  // 10000 bytes: not sent, and no plane either
    plugin_->showSlot(kSlot);
    EXPECT_TRUE(framesOf(device().frames(), proto::host::kMultiLevel).empty());
    EXPECT_TRUE(framesOf(device().frames(), planeCommand()).empty());
}

TEST_F(PluginSpine, TheReplyQueueKeepsItsFirstOneHundredTwentyEightBytes) {
    DeviceLink& link = handLink();
    std::vector<uint8_t> bytes(200);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
    link.pushReply(bytes);
    for (int i = 0; i < 128; ++i) {
        const auto b = link.waitReplyByte(0);
        ASSERT_TRUE(b) << i;
        EXPECT_EQ(*b, i);
    }
    EXPECT_FALSE(link.waitReplyByte(0));
    // Room again after taking: the next byte is kept.
    const uint8_t next = 0xAB;
    link.pushReply({&next, 1});
    EXPECT_EQ(link.waitReplyByte(0), std::optional<uint8_t>(0xAB));
}

// ---- the threads

std::vector<uint8_t> identReply(bool multiLevel) {
    std::array<uint8_t, proto::kDeviceInfoSize> info{};
    info[2] = multiLevel ? 2 : 0;
    info[5] = 24;
    const auto reply = proto::buildIdentReply(info, "scripted");
    return {reply.begin(), reply.end()};
}

TEST_F(PluginSpine, ABusySendLockKeepsTheRequestUntilTheLockIsFree) {
    device().setResponder([](const WrittenFrame& f) {
        return f.command == proto::host::kIdentify ? identReply(false) : std::vector<uint8_t>{};
    });
    fillSlot(48, 32, 0);
    storeWord(m_->textCells, 0);
    ASSERT_EQ(plugin_->start(), 1);
    ASSERT_TRUE(device().waitFrames([](const auto& f) { return !framesOf(f, proto::host::kIdentify).empty(); }));
    // Identified, the thread idles: hold the port while a request comes in.
    for (int i = 0; i < 1000 && loadWord(m_->deviceIdentified) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(loadWord(m_->deviceIdentified), 1);
    DeviceLink* link = nullptr;
    for (int i = 0; i < 1000 && !(link = plugin_->link()); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_NE(link, nullptr);
    ASSERT_TRUE(link->takeSendLock());
    const std::size_t before = device().frameCount();
    storeWord(m_->displayClientCount, 1);
    storeWord(m_->slots[kSlot].graphicChanged, 1);
    storeWord(m_->displayRequest, kSlot);
    // The thread takes the request and waits for the lock.
    bool taken = false;
    for (int i = 0; i < 10000 && !taken; ++i) {
        taken = loadWord(m_->displayRequest) == kRequestSending;
        if (!taken) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(taken);
    // With no display client left the thread does not take the request again once it has put
    // it back: it must come back after the lock wait gives up.
    storeWord(m_->displayClientCount, 0);
    bool back = false;
    for (int i = 0; i < 1000 && !back; ++i) {
        back = loadWord(m_->displayRequest) == kSlot;
        if (!back) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(back);
    EXPECT_EQ(device().frameCount(), before);  // nothing went out while the port was held
    storeWord(m_->displayClientCount, 1);
    link->releaseSendLock();
    const bool sent = device().waitFrames([&](const auto& f) {
        return f.size() > before && std::any_of(f.begin() + static_cast<long>(before), f.end(), [](const WrittenFrame& w) {
                   return w.command != proto::host::kIdentify;
               });
    });
    EXPECT_TRUE(sent);
    EXPECT_EQ(plugin_->end(), 0);
    EXPECT_EQ(loadWord(m_->status), kStatusNoConnection);
}

TEST_F(PluginSpine, StoppingWhileTheDeviceHasNotAnsweredTheIdentification) {
    // No responder: the identification waits for bytes that never come.
    fillSlot(48, 32, 0);
    ASSERT_EQ(plugin_->start(), 1);
    ASSERT_TRUE(device().waitFrames([](const auto& f) { return !framesOf(f, proto::host::kIdentify).empty(); }));
    EXPECT_EQ(plugin_->end(), 0);
    EXPECT_EQ(plugin_->isConnected(), 0);
    EXPECT_EQ(plugin_->link(), nullptr);
    EXPECT_EQ(loadWord(m_->deviceIdentified), 0);
    EXPECT_EQ(loadWord(m_->status), kStatusNoConnection);
    // Both threads are gone: the plug-in could be unloaded now.
    EXPECT_TRUE(plugin_->prepareUnload(0));
    // And it starts again on the same map.
    variant_.device = std::make_shared<ScriptedDevice>();
    device().setResponder([](const WrittenFrame& f) {
        return f.command == proto::host::kIdentify ? identReply(false) : std::vector<uint8_t>{};
    });
    ASSERT_EQ(plugin_->start(), 1);
    for (int i = 0; i < 1000 && loadWord(m_->deviceIdentified) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(loadWord(m_->deviceIdentified), 1);
    if (kNoteTaker) {
        EXPECT_TRUE(device().waitFrames(
            [](const auto& f) { return !framesOf(f, proto::host::kNoteTakerMode).empty(); }));
    }
}

TEST_F(PluginSpine, TheReceiveThreadAnswersFramesAndKeepsTheFirstStrayBytes) {
    device().setResponder([](const WrittenFrame& f) {
        return f.command == proto::host::kIdentify ? identReply(false) : std::vector<uint8_t>{};
    });
    storeWord(m_->textCells, 0);
    ASSERT_EQ(plugin_->start(), 1);
    for (int i = 0; i < 1000 && loadWord(m_->deviceIdentified) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(loadWord(m_->deviceIdentified), 1);
    DeviceLink* link = plugin_->link();
    ASSERT_NE(link, nullptr);
    const std::size_t bareBefore = device().bareBytes();
    // 200 bytes that start no frame, then two frames the computer answers with bare bytes
    // (0x11: one, 0x21: two); once the answers are out every stray byte has been taken.
    std::vector<uint8_t> input;
    for (int i = 0; i < 200; ++i) input.push_back(static_cast<uint8_t>(1 + i));
    for (const uint8_t command : {uint8_t{0x11}, uint8_t{0x21}})
        input.insert(input.end(), {0xFF, 0xFF, command, 0x00, 0x00, 0x00});
    device().queueInput(input);
    ASSERT_TRUE(device().waitBareBytes(bareBefore + 3));
    for (int i = 0; i < 128; ++i) {
        const auto b = link->waitReplyByte(0);
        ASSERT_TRUE(b) << i;
        EXPECT_EQ(*b, 1 + i);
    }
    EXPECT_FALSE(link->waitReplyByte(0));  // bytes 129..200 found the queue full
    EXPECT_EQ(device().bareBytes(), bareBefore + 3);
}

}  // namespace
