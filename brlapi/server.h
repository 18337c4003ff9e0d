// The socket loop around the sessions: accepts clients, feeds their packets
// to their sessions, sends answers with a bounded buffer per client, shows the
// owning client's window on the display and hands it the display's keys.
// One thread; every wait is a poll with a bound.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <list>
#include <optional>
#include <vector>

#include "brlapi/braille_table.h"
#include "brlapi/cells.h"
#include "brlapi/display.h"
#include "brlapi/fd.h"
#include "brlapi/listener.h"
#include "brlapi/options.h"
#include "brlapi/protocol.h"
#include "brlapi/session.h"

namespace tavik::brl {

struct ServerLimits {
    std::size_t maxClients = 128;
    // Answers a client has not read yet; more and it is dropped (a client
    // that never reads cannot hold memory or the loop).
    std::size_t maxPendingBytes = 256 * 1024;
    // A connection that has not finished the handshake by then is dropped, so
    // idle connections cannot take every place.
    std::chrono::milliseconds handshakeTime{10000};
};

class Server {
public:
    // `key`: what clients of a TCP endpoint must show (unused for a local socket).
    Server(const Listener& listener, Display& display, BrailleTable table, Destination destination,
           std::vector<uint8_t> key, ServerLimits limits = {});

    // Serves until `stopFd` polls readable (a signalfd, a pipe).
    void run(int stopFd);
    // One turn: waits up to `timeoutMs` for something to do and does it.
    void step(int timeoutMs, int stopFd = -1);

    std::size_t clients() const { return clients_.size(); }
    Destination destination() const { return destination_; }
    const DisplayFacts& facts() const { return facts_; }

private:
    struct Client {
        Fd fd;
        PacketReader reader;
        Session session;
        std::vector<uint8_t> pending;
        std::size_t sent = 0;  // bytes of `pending` already written
        uint64_t enteredAt = 0;
        std::chrono::steady_clock::time_point acceptedAt;
        bool closing = false;  // drop once `pending` is out
        bool dead = false;
    };

    void acceptClients();
    void readClient(Client& c);
    void queue(Client& c, std::vector<uint8_t> packet);
    void flush(Client& c);
    void handleKeys();
    void switchDestination();
    DisplayFacts computeFacts() const;
    // Shows the owner's window when it changed and tells watchers what changed.
    void refresh();
    Client* owner();

    const Listener& listener_;
    Display& display_;
    BrailleTable table_;
    Destination destination_;
    std::vector<uint8_t> key_;
    ServerLimits limits_;
    std::list<Client> clients_;
    DisplayFacts facts_;
    std::optional<std::vector<uint8_t>> shownText_, shownPins_;
    uint64_t ttyCounter_ = 0;
    bool dirty_ = true;
};

}  // namespace tavik::brl
