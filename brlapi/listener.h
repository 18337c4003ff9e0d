// The listening socket. A local socket is made owner-only (0600) and every
// connection's peer must be the server's own user; a loopback TCP socket can
// be reached by every local user, so its clients must show the key file's key.
// When another server already answers on an endpoint, the next number is
// tried (and said on stderr).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "brlapi/endpoint.h"
#include "brlapi/fd.h"

namespace tavik::brl {

class Listener {
public:
    // Opens the first free endpoint from `wanted` on (at most 16 numbers).
    // `folder` is the local socket folder. nullopt with `error` set when none
    // could be opened.
    static std::optional<Listener> open(Endpoint wanted, const std::string& folder, std::string& error);
    Listener(Listener&&) = default;
    Listener& operator=(Listener&&) = default;
    ~Listener();

    int fd() const { return fd_.get(); }
    const Endpoint& endpoint() const { return endpoint_; }
    bool local() const { return endpoint_.kind == Endpoint::Kind::Local; }
    // Accepts one waiting connection (non-blocking, close-on-exec); an invalid
    // Fd when none waits. `sameUser`: the peer runs as this server's user.
    Fd accept(bool& sameUser) const;

private:
    Listener() = default;
    Fd fd_;
    Endpoint endpoint_;
    std::string path_;  // removed when the listener goes
};

// The key clients of a TCP endpoint must show: the file's bytes, made (32
// random bytes, owner-only) when it does not exist. Empty on failure, with `error`.
std::vector<uint8_t> loadOrCreateKey(const std::string& path, std::string& error);

}  // namespace tavik::brl
