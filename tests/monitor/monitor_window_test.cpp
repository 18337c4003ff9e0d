// The plug-in's monitor state against a fake windowing host: opening once,
// following the shown slot, the size commands, the remembered position and
// closing from either side.
#include "drivers/core/monitor_window.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#include "common/ini_store.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace tavik;
using namespace tavik::drv;

struct FakeHost {
    TavikMonitorHost host{};
    const TavikMonitorView* view = nullptr;
    int opens = 0, invalidates = 0, closes = 0;
    int x = -1, y = -1, cellSize = 0, keepOnTop = -1;
    std::string title;
    intptr_t refuse = 0;

    FakeHost() {
        host.context = this;
        host.open = [](void* c, const TavikMonitorView* v, const char* t, int32_t x, int32_t y, int32_t cell,
                       int32_t top) -> intptr_t {
            auto* self = static_cast<FakeHost*>(c);
            if (self->refuse) return 0;
            ++self->opens;
            self->view = v;
            self->title = t;
            self->x = x;
            self->y = y;
            self->cellSize = cell;
            self->keepOnTop = top;
            return 1000 + self->opens;
        };
        host.invalidate = [](void* c, intptr_t) { ++static_cast<FakeHost*>(c)->invalidates; };
        host.close = [](void* c, intptr_t) { ++static_cast<FakeHost*>(c)->closes; };
    }
    std::pair<int, int> size() const {
        int32_t w = 0, h = 0;
        view->size(view->context, &w, &h);
        return {w, h};
    }
    std::vector<uint32_t> picture() const {
        auto [w, h] = size();
        std::vector<uint32_t> px(static_cast<std::size_t>(w) * h);
        EXPECT_EQ(view->copy(view->context, px.data(), w, h, w), 1);
        return px;
    }
};

class MonitorWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = folder_.emplace("monitor-window").path();
        ini_ = (dir_ / "TAVIK.ini").string();
        map_ = std::make_unique<PortDataMap>();
        map_->graphicWidth = 64;
        map_->graphicHeight = 48;
    }
    void TearDown() override { folder_.reset(); }

    std::optional<tavik::test::TempDir> folder_;
    std::filesystem::path dir_;
    std::string ini_;
    std::unique_ptr<PortDataMap> map_;
};

uint32_t centre(const std::vector<uint32_t>& px, int width, int cell, int x, int y) {
    return px[static_cast<std::size_t>(15 + y * cell + cell / 2) * width + 20 + x * cell + cell / 2];
}

TEST_F(MonitorWindowTest, WithoutHostNothingOpens) {
    MonitorWindow m(ini_);
    EXPECT_EQ(m.open("Monitor Window (Com1)", 10, false, map_.get()), 0);
    EXPECT_FALSE(m.isOpen());
    m.refresh(map_.get(), 0);  // no window: no fault
    m.close();
    FakeHost h;
    h.refuse = 1;
    m.setHost(&h.host);
    EXPECT_EQ(m.open("t", 10, false, map_.get()), 0);  // the host could not make a window
    EXPECT_FALSE(m.isOpen());
}

TEST_F(MonitorWindowTest, OpensOnceAtTheSavedPlace) {
    ASSERT_TRUE(profileWriteString("Monitor", "X", "5000", ini_));
    ASSERT_TRUE(profileWriteString("Monitor", "Y", "-20", ini_));
    FakeHost h;
    MonitorWindow m(ini_);
    m.setHost(&h.host);
    const intptr_t w = m.open("Monitor Window (USB2)", 15, true, map_.get());
    ASSERT_NE(w, 0);
    EXPECT_EQ(m.open("again", 5, false, map_.get()), w);
    EXPECT_EQ(h.opens, 1);
    EXPECT_EQ(h.title, "Monitor Window (USB2)");
    EXPECT_EQ(h.x, 5000);  // the host moves it onto its screen
    EXPECT_EQ(h.y, 0);
    EXPECT_EQ(h.cellSize, 15);
    EXPECT_EQ(h.keepOnTop, 1);
    EXPECT_EQ(h.size(), std::make_pair(990, 745));
}

TEST_F(MonitorWindowTest, UnknownDotSizeOpensMiddle) {
    FakeHost h;
    MonitorWindow m(ini_);
    m.setHost(&h.host);
    ASSERT_NE(m.open("t", 12, false, map_.get()), 0);
    EXPECT_EQ(h.cellSize, 10);
    EXPECT_EQ(h.size(), std::make_pair(670, 505));
}

TEST_F(MonitorWindowTest, FollowsTheShownSlot) {
    FakeHost h;
    MonitorWindow m(ini_);
    m.setHost(&h.host);
    map_->slots[3].graphic[0] = 1;
    map_->slots[3].graphic[64 + 2] = 3;
    m.refresh(map_.get(), 3);  // shown before the window opened
    ASSERT_NE(m.open("t", 10, false, map_.get()), 0);
    auto px = h.picture();
    EXPECT_EQ(centre(px, 670, 10, 0, 0), monitor::kWhite);
    EXPECT_EQ(centre(px, 670, 10, 2, 1), monitor::kWhite);
    EXPECT_EQ(centre(px, 670, 10, 1, 1), monitor::kBlack);

    const int before = h.invalidates;
    map_->slots[5].graphic[64 * 47 + 63] = 2;
    m.refresh(map_.get(), 5);
    EXPECT_GT(h.invalidates, before);
    px = h.picture();
    EXPECT_EQ(centre(px, 670, 10, 0, 0), monitor::kBlack);
    EXPECT_EQ(centre(px, 670, 10, 63, 47), monitor::kWhite);

    m.refresh(map_.get(), -1);  // nothing shown: the bare grid
    px = h.picture();
    EXPECT_EQ(centre(px, 670, 10, 63, 47), monitor::kBlack);
    m.refresh(map_.get(), 16);  // no slot either
    EXPECT_EQ(h.picture(), px);
}

TEST_F(MonitorWindowTest, SizeCommandsRebuildThePicture) {
    FakeHost h;
    MonitorWindow m(ini_);
    m.setHost(&h.host);
    map_->slots[0].graphic[1] = 1;
    m.refresh(map_.get(), 0);
    ASSERT_NE(m.open("t", 10, false, map_.get()), 0);
    h.view->command(h.view->context, TAVIK_MONITOR_SMALL);
    EXPECT_EQ(h.size(), std::make_pair(350, 265));
    EXPECT_EQ(centre(h.picture(), 350, 5, 1, 0), monitor::kWhite);
    h.view->command(h.view->context, TAVIK_MONITOR_LARGE);
    EXPECT_EQ(h.size(), std::make_pair(990, 745));
    h.view->command(h.view->context, 999);  // unknown: unchanged
    EXPECT_EQ(h.size(), std::make_pair(990, 745));
    // A copy into a buffer of the old size is refused, not overrun.
    std::vector<uint32_t> small(350 * 265);
    EXPECT_EQ(h.view->copy(h.view->context, small.data(), 350, 265, 350), 0);
}

TEST_F(MonitorWindowTest, MatrixChangesWhileOpen) {
    FakeHost h;
    MonitorWindow m(ini_);
    m.setHost(&h.host);
    map_->graphicWidth = 0;
    map_->graphicHeight = 0;
    ASSERT_NE(m.open("t", 10, false, map_.get()), 0);
    EXPECT_EQ(h.size(), std::make_pair(30, 25));
    map_->graphicWidth = 32;
    map_->graphicHeight = 20;
    m.refresh(map_.get(), 0);
    EXPECT_EQ(h.size(), std::make_pair(350, 225));
    map_->graphicWidth = 200;
    map_->graphicHeight = 100;  // 20000 dots: no slot holds them, nothing drawn
    m.refresh(map_.get(), 0);
    EXPECT_EQ(h.size(), std::make_pair(30, 25));
}

TEST_F(MonitorWindowTest, MovesAreRememberedForTheNextOpen) {
    FakeHost h;
    MonitorWindow m(ini_);
    m.setHost(&h.host);
    ASSERT_NE(m.open("t", 10, false, map_.get()), 0);
    h.view->moved(h.view->context, 140, 90);
    EXPECT_EQ(profileGetInt("Monitor", "X", 0, ini_), 140);
    EXPECT_EQ(profileGetInt("Monitor", "Y", 0, ini_), 90);
    h.view->closed(h.view->context);  // closed by the user
    EXPECT_FALSE(m.isOpen());
    EXPECT_EQ(h.closes, 0);
    ASSERT_NE(m.open("t", 10, false, map_.get()), 0);
    EXPECT_EQ(h.opens, 2);
    EXPECT_EQ(h.x, 140);
    EXPECT_EQ(h.y, 90);
    m.close();
    EXPECT_EQ(h.closes, 1);
    m.close();
    EXPECT_EQ(h.closes, 1);
}

TEST_F(MonitorWindowTest, DestroyedWindowClosesThroughTheHost) {
    FakeHost h;
    {
        MonitorWindow m(ini_);
        m.setHost(&h.host);
        ASSERT_NE(m.open("t", 10, false, map_.get()), 0);
    }
    EXPECT_EQ(h.closes, 1);
    MonitorWindow m(ini_);
    m.setHost(&h.host);
    ASSERT_NE(m.open("t", 10, false, map_.get()), 0);
    m.setHost(nullptr);  // the host goes: its window goes first
    EXPECT_EQ(h.closes, 2);
    EXPECT_EQ(m.open("t", 10, false, map_.get()), 0);
}

}  // namespace

namespace {

TEST_F(MonitorWindowTest, CopiesTheSlotOnlyWhileItsClientIsNotWriting) {
    FakeHost h;
    MonitorWindow m(ini_);
    m.setHost(&h.host);
    ASSERT_NE(m.open("t", 10, false, map_.get()), 0);
    map_->slots[2].graphic[0] = 1;
    m.refresh(map_.get(), 2);
    ASSERT_EQ(centre(h.picture(), 670, 10, 0, 0), monitor::kWhite);

    // The client holds the busy flag halfway through a new picture: the
    // monitor keeps the last whole one, and leaves the flag to the client.
    setSlotBusy(*map_, 2, 1);
    map_->slots[2].graphic[0] = 0;
    map_->slots[2].graphic[1] = 1;
    m.refresh(map_.get(), 2);
    auto px = h.picture();
    EXPECT_EQ(centre(px, 670, 10, 0, 0), monitor::kWhite);
    EXPECT_EQ(centre(px, 670, 10, 1, 0), monitor::kBlack);
    EXPECT_EQ(map_->slotBusy[2], 1);

    // Written: the next refresh shows it and frees the flag again.
    setSlotBusy(*map_, 2, 0);
    m.refresh(map_.get(), 2);
    px = h.picture();
    EXPECT_EQ(centre(px, 670, 10, 0, 0), monitor::kBlack);
    EXPECT_EQ(centre(px, 670, 10, 1, 0), monitor::kWhite);
    EXPECT_EQ(map_->slotBusy[2], 0);
}

}  // namespace
