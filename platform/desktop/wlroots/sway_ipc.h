// The compositor's own IPC socket where it has one (sway: $SWAYSOCK, the i3 protocol): one
// request and its reply, each call on a connection of its own. Used for what no Wayland
// protocol tells a client: where the compositor put its windows.
//
// Thread-safe. Every call waits at most its bound in total.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/desktop/wlroots/sway_tree.h"

namespace tavik::desktop::wayland {

// The IPC socket of the running compositor ($SWAYSOCK); empty when there is none.
std::string compositorIpcSocket();

// Sends message `type` with `payload` on `socket` and returns the reply's payload; nullopt when
// the socket does not answer, the reply is malformed or larger than 16 MiB, or `timeoutMs`
// passed.
std::optional<std::string> compositorRequest(const std::string& socket, uint32_t type, std::string_view payload,
                                             int timeoutMs = 500);

// The i3 protocol's "subscribe" and "get_tree".
constexpr uint32_t kIpcSubscribe = 2;
constexpr uint32_t kIpcGetTree = 4;

// The compositor's windows, read again only when it reported a change of its windows,
// workspaces or outputs (a subscription kept open), or when the last read is older than
// `maxAge` (layout changes such as a resize are not reported). Without the subscription every
// call reads the tree.
class CompositorWindows {
public:
    explicit CompositorWindows(std::string socket, std::chrono::milliseconds maxAge = std::chrono::milliseconds(500));
    ~CompositorWindows();
    CompositorWindows(const CompositorWindows&) = delete;
    CompositorWindows& operator=(const CompositorWindows&) = delete;

    // The windows now; nullopt when the compositor does not answer within `timeoutMs`.
    std::optional<std::vector<CompositorWindow>> get(int timeoutMs = 500);

private:
    void checkEventsLocked(int timeoutMs);

    std::mutex m_;
    std::string socket_;
    std::chrono::milliseconds maxAge_;
    int events_ = -1;  // the subscribed connection
    std::optional<std::vector<CompositorWindow>> cached_;
    std::chrono::steady_clock::time_point readAt_{};
};

}  // namespace tavik::desktop::wayland
