// Copies of the screen through the wlroots screen-copy protocol, for compositors whose screen
// cast portal is missing or refuses: each grab asks the compositor for the current picture of
// the first output in a shared-memory buffer we own. No consent dialog: the compositor decides.
//
// Not thread-safe: one owner calls it. Every wait is bounded (a copy that has not finished within
// kCopyBoundMs fails the grab); a compositor that went away fails every later grab.
#pragma once

#include <functional>
#include <memory>

#include "platform/desktop/portals/screencast_stream.h"

namespace tavik::desktop::wayland {

class WlConnection;

class ScreenCopier {
public:
    static constexpr int kCopyBoundMs = 1000;

    // Connects to the compositor ($WAYLAND_DISPLAY) and binds its screen-copy manager (version 3
    // when offered). nullptr when no compositor answers or it offers no screen copy, output or
    // shared memory.
    static std::unique_ptr<ScreenCopier> open();
    ~ScreenCopier();
    ScreenCopier(const ScreenCopier&) = delete;
    ScreenCopier& operator=(const ScreenCopier&) = delete;

    // Copies the output and runs `use` with the picture the right way up (valid during the call
    // only; no damage list: the frame store compares). False, `use` not called, when the
    // compositor failed the copy, offered no readable format, took longer than kCopyBoundMs or
    // went away.
    bool grab(const std::function<void(const StreamFrame&)>& use);
    bool lost() const;

    struct Buffer;  // the shared-memory buffer, kept while its layout stays the same

private:
    ScreenCopier() = default;
    std::unique_ptr<WlConnection> conn_;
    void* manager_ = nullptr;  // zwlr_screencopy_manager_v1
    std::unique_ptr<Buffer> buffer_;
};

}  // namespace tavik::desktop::wayland
