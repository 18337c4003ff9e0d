// Parsing the host notation of the server's endpoint.
#include "brlapi/endpoint.h"

#include <charconv>

namespace tavik::brl {

std::string Endpoint::host() const {
    switch (kind) {
    case Kind::Local: return ":" + std::to_string(number);
    case Kind::Loopback4: return "127.0.0.1:" + std::to_string(number);
    case Kind::Loopback6: return "::1:" + std::to_string(number);
    }
    return {};
}

std::optional<Endpoint> parseHost(std::string_view host) {
    const std::size_t colon = host.rfind(':');
    std::string_view name = host, number;
    if (colon != std::string_view::npos) name = host.substr(0, colon), number = host.substr(colon + 1);
    Endpoint e;
    if (name.empty()) e.kind = Endpoint::Kind::Local;
    else if (name == "127.0.0.1" || name == "localhost") e.kind = Endpoint::Kind::Loopback4;
    else if (name == "::1" || name == "[::1]") e.kind = Endpoint::Kind::Loopback6;
    else return std::nullopt;
    if (number.empty()) return e;
    auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), e.number);
    if (ec != std::errc() || end != number.data() + number.size() || e.number < 0 || e.number > kMaxDisplayNumber)
        return std::nullopt;
    return e;
}

}  // namespace tavik::brl
