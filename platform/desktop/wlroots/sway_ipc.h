// The compositor's own IPC socket where it has one (sway: $SWAYSOCK, the i3 protocol): one
// request and its reply, each call on a connection of its own. Used for what no Wayland
// protocol tells a client: where the compositor put its windows.
//
// Thread-safe (no shared state). Every call waits at most its bound in total.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavik::desktop::wayland {

// The IPC socket of the running compositor ($SWAYSOCK); empty when there is none.
std::string compositorIpcSocket();

// Sends message `type` with `payload` on `socket` and returns the reply's payload; nullopt when
// the socket does not answer, the reply is malformed or larger than 16 MiB, or `timeoutMs`
// passed.
std::optional<std::string> compositorRequest(const std::string& socket, uint32_t type, std::string_view payload,
                                             int timeoutMs = 500);

// The i3 protocol's "get_tree".
constexpr uint32_t kIpcGetTree = 4;

}  // namespace tavik::desktop::wayland
