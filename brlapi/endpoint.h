// Where the server listens, in the notation clients use for BRLAPI_HOST:
// ":N" is the local socket N in the shared socket folder, "127.0.0.1:N" (or
// "localhost:N", "::1:N") TCP port 4101 + N on the loopback interface. Other
// hosts are refused: the server never listens beyond this machine.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavik::brl {

constexpr std::string_view kSocketFolder = "/var/lib/BrlAPI";
constexpr uint16_t kFirstTcpPort = 4101;
constexpr int kMaxDisplayNumber = 99;

struct Endpoint {
    enum class Kind { Local, Loopback6, Loopback4 } kind = Kind::Local;
    int number = 0;  // N of ":N"
    // The BRLAPI_HOST value that names this endpoint.
    std::string host() const;
    // The socket path of a local endpoint inside `folder`.
    std::string path(std::string_view folder) const { return std::string(folder) + "/" + std::to_string(number); }
    uint16_t port() const { return static_cast<uint16_t>(kFirstTcpPort + number); }
    Endpoint next() const { return {kind, number + 1}; }
};

// nullopt for a host that is not this machine or a number outside 0..99.
std::optional<Endpoint> parseHost(std::string_view host);

}  // namespace tavik::brl
