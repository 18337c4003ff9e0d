// One client connection as a state machine: the handshake (version, then
// authorisation), then requests, each answered as the protocol expects (a
// reply, an acknowledgement, an error; faults in packets nobody waits on as
// exceptions). Pure: the server hands in packets and the facts of the display
// and sends back what the session returns.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "brlapi/key_filter.h"
#include "brlapi/protocol.h"

namespace tavik::brl {

// What the display and the server tell every client.
struct DisplayFacts {
    uint32_t columns = 0, rows = 0;
    std::string driverName, driverCode, model, identifier, table;
    std::vector<uint8_t> renderedCells;  // what the display shows now
};

// How clients prove they may use the display.
struct AuthPolicy {
    bool none = false;         // the socket admits only its owner: no proof asked
    std::vector<uint8_t> key;  // else the key file's bytes
};

// What the server must do after a packet.
struct Outcome {
    std::vector<std::vector<uint8_t>> send;  // whole packets, in order
    bool close = false;                      // after sending
    bool displayChanged = false;             // tty mode, window or priority changed
};

class Session {
public:
    enum class Phase { Version, Auth, Ready };

    explicit Session(AuthPolicy policy) : policy_(std::move(policy)) {}
    // The first packet a server sends: its protocol version.
    static std::vector<uint8_t> greeting();

    Outcome handle(const Packet& p, const DisplayFacts& facts);
    // An oversized header: answered, then the connection ends.
    static Outcome oversized(uint32_t type);

    Phase phase() const { return phase_; }
    bool inTty() const { return tty_; }
    uint32_t priority() const { return priority_; }
    // The key packet for `code` when this client takes it, else empty.
    std::vector<uint8_t> keyPacket(uint64_t code) const;
    // The window as cells, through `translate` for the text.
    const std::u32string& text() const { return text_; }
    const std::vector<uint8_t>& andMask() const { return and_; }
    const std::vector<uint8_t>& orMask() const { return or_; }
    uint32_t cursor() const { return cursor_; }
    // Update packets for the parameters this client watches that differ
    // between `before` and `after`.
    std::vector<std::vector<uint8_t>> updates(const DisplayFacts& before, const DisplayFacts& after) const;

private:
    Outcome handleReady(const Packet& p, const DisplayFacts& facts);
    Outcome write(const Packet& p, const DisplayFacts& facts);
    Outcome paramRequest(const Packet& p, const DisplayFacts& facts);
    Outcome paramSet(const Packet& p);
    // The value of a parameter, or false when there is no such parameter.
    bool paramValue(uint32_t param, uint64_t subparam, const DisplayFacts& facts, std::vector<uint8_t>& value) const;
    void resetWindow(std::size_t cells);
    void fitWindow(std::size_t cells) {
        if (text_.size() != cells) resetWindow(cells);
    }

    AuthPolicy policy_;
    Phase phase_ = Phase::Version;
    bool tty_ = false;
    uint32_t priority_ = param::kDefaultPriority;
    KeyFilter keys_;
    std::u32string text_;
    std::vector<uint8_t> and_, or_;
    uint32_t cursor_ = 0;
    std::multiset<uint32_t> watched_;
};

}  // namespace tavik::brl
