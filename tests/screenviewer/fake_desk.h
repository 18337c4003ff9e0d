// A desktop of the viewer's tests: windows with rectangles, client areas and
// processes, the window in front, the screen, and the frames shown.
#pragma once

#include <map>
#include <optional>
#include <vector>

#include "screenviewer/desktop_port.h"

namespace lumo {

struct FakeWindow {
    Rect rect, client;
    int32_t pid = 0;
};

struct FakeWorld {
    std::optional<WindowId> active;
    std::map<WindowId, FakeWindow> windows;
    Rect screen{0, 0, 1920, 1080};
    std::vector<Rect> frames;
    int hides = 0;
    std::optional<CursorPicture> cursor;
};

class FakeDesk final : public DesktopPort {
public:
    explicit FakeDesk(FakeWorld& w) : w_(w) {}
    std::optional<WindowId> activeWindow() override { return w_.active; }
    bool windowExists(WindowId id) override { return w_.windows.count(id) != 0; }
    std::optional<Rect> windowRect(WindowId id) override {
        if (id == 0) return w_.screen;
        auto it = w_.windows.find(id);
        return it == w_.windows.end() ? std::nullopt : std::optional<Rect>(it->second.rect);
    }
    std::optional<Rect> clientRect(WindowId id) override {
        if (id == 0) return w_.screen;
        auto it = w_.windows.find(id);
        return it == w_.windows.end() ? std::nullopt : std::optional<Rect>(it->second.client);
    }
    std::optional<int32_t> windowProcess(WindowId id) override {
        auto it = w_.windows.find(id);
        return it == w_.windows.end() ? std::nullopt : std::optional<int32_t>(it->second.pid);
    }
    void showFrame(const Rect& r) override { w_.frames.push_back(r); }
    void hideFrame() override { ++w_.hides; }
    std::optional<bool> takeDamage(const Rect&) override { return std::nullopt; }
    bool connected() override { return true; }
    std::optional<CursorPicture> cursorPicture() override { return w_.cursor; }

private:
    FakeWorld& w_;
};

}  // namespace lumo
