// The braille server's poll loop.
#include "brlapi/server.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "brlapi/owner.h"

namespace tavik::brl {

namespace {

constexpr std::size_t kReadChunk = 4096;

}  // namespace

Server::Server(const Listener& listener, Display& display, BrailleTable table, Destination destination,
               std::vector<uint8_t> key, ServerLimits limits)
    : listener_(listener),
      display_(display),
      table_(std::move(table)),
      destination_(display.equipment().textCells > 0 ? destination : Destination::Pins),
      key_(std::move(key)),
      limits_(limits) {
    facts_ = computeFacts();
    display_.claim(destination_);
}

DisplayFacts Server::computeFacts() const {
    const Equipment& eq = display_.equipment();
    DisplayFacts f;
    if (destination_ == Destination::TextLine) {
        f.columns = static_cast<uint32_t>(eq.textCells);
        f.rows = 1;
    } else {
        const PinGrid g = pinGrid(eq.width, eq.height);
        f.columns = static_cast<uint32_t>(g.columns);
        f.rows = static_cast<uint32_t>(g.rows);
    }
    f.driverName = "Tavik";
    f.driverCode = "tk";
    f.model = eq.name;
    f.identifier = eq.name;
    f.table = table_.name();
    f.renderedCells = facts_.renderedCells;
    f.renderedCells.resize(std::size_t{f.columns} * f.rows, 0);
    return f;
}

void Server::run(int stopFd) {
    for (;;) {
        pollfd stop{stopFd, POLLIN, 0};
        if (stopFd >= 0 && ::poll(&stop, 1, 0) > 0) return;
        step(1000, stopFd);
    }
}

void Server::step(int timeoutMs, int stopFd) {
    refresh();
    std::vector<pollfd> fds;
    fds.push_back({listener_.fd(), POLLIN, 0});
    fds.push_back({display_.keyFd(), POLLIN, 0});
    fds.push_back({stopFd, POLLIN, 0});
    for (const Client& c : clients_)
        fds.push_back({c.fd.get(), static_cast<short>(POLLIN | (c.sent < c.pending.size() ? POLLOUT : 0)), 0});
    if (::poll(fds.data(), fds.size(), timeoutMs) <= 0) return;
    // Only the clients polled: those accepted below come after them in the list.
    auto polled = clients_.begin();
    for (std::size_t i = 3; i < fds.size(); ++i, ++polled) {
        const short ev = fds[i].revents;
        if (ev & (POLLIN | POLLHUP | POLLERR)) readClient(*polled);
        if (!polled->dead && (ev & POLLOUT)) flush(*polled);
    }
    if (fds[0].revents & POLLIN) acceptClients();
    if (fds[1].revents & POLLIN) handleKeys();
    const auto now = std::chrono::steady_clock::now();
    for (Client& c : clients_)
        if (c.session.phase() != Session::Phase::Ready && now - c.acceptedAt > limits_.handshakeTime) c.dead = true;
    const std::size_t before = clients_.size();
    clients_.remove_if([](const Client& c) { return c.dead; });
    if (clients_.size() != before) dirty_ = true;
    refresh();
}

void Server::acceptClients() {
    for (;;) {
        bool sameUser = false;
        Fd fd = listener_.accept(sameUser);
        if (!fd) return;
        AuthPolicy policy;
        policy.none = listener_.local();
        policy.key = key_;
        auto& c = clients_.emplace_back(
            Client{std::move(fd), {}, Session(std::move(policy)), {}, 0, 0, std::chrono::steady_clock::now(), false, false});
        if (listener_.local() && !sameUser) {
            // Only the session's own user: another user learns why and goes.
            queue(c, encodeError(pkt::kError, ErrorCode::Authentication, pkt::kVersion));
            c.closing = true;
        } else if (clients_.size() > limits_.maxClients) {
            queue(c, encodeError(pkt::kError, ErrorCode::OperationNotSupported, pkt::kVersion));
            c.closing = true;
        } else {
            queue(c, Session::greeting());
        }
        flush(c);
    }
}

void Server::queue(Client& c, std::vector<uint8_t> packet) {
    if (c.dead) return;
    if (c.pending.size() - c.sent + packet.size() > limits_.maxPendingBytes) {
        c.dead = true;  // it does not read: dropped, nothing else waits for it
        return;
    }
    if (c.sent > 0) {
        c.pending.erase(c.pending.begin(), c.pending.begin() + static_cast<std::ptrdiff_t>(c.sent));
        c.sent = 0;
    }
    c.pending.insert(c.pending.end(), packet.begin(), packet.end());
}

void Server::flush(Client& c) {
    while (!c.dead && c.sent < c.pending.size()) {
        const ssize_t n = ::send(c.fd.get(), c.pending.data() + c.sent, c.pending.size() - c.sent, MSG_NOSIGNAL);
        if (n > 0) {
            c.sent += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            return;
        } else {
            c.dead = true;
        }
    }
    if (c.sent == c.pending.size()) {
        c.pending.clear();
        c.sent = 0;
        if (c.closing) c.dead = true;
    }
}

void Server::readClient(Client& c) {
    if (c.closing) {
        // Nothing more is taken from a client on its way out.
        c.dead = true;
        return;
    }
    uint8_t buf[kReadChunk];
    const ssize_t n = ::recv(c.fd.get(), buf, sizeof buf, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        c.dead = true;  // gone, perhaps in the middle of a packet: nothing to answer
        return;
    }
    if (n < 0) return;
    std::vector<Packet> packets;
    const bool oversized = c.reader.feed({buf, static_cast<std::size_t>(n)}, packets) == PacketReader::Result::Oversized;
    for (const Packet& p : packets) {
        const bool wasTty = c.session.inTty();
        Outcome o = c.session.handle(p, facts_);
        for (auto& out : o.send) queue(c, std::move(out));
        if (!wasTty && c.session.inTty()) c.enteredAt = ++ttyCounter_;
        if (o.displayChanged) dirty_ = true;
        if (o.close) {
            c.closing = true;
            break;
        }
    }
    if (oversized && !c.closing) {
        Outcome o = Session::oversized(c.reader.oversizedType());
        for (auto& out : o.send) queue(c, std::move(out));
        c.closing = true;
    }
    flush(c);
}

Server::Client* Server::owner() {
    std::vector<OwnerCandidate> candidates;
    std::vector<Client*> order;
    for (Client& c : clients_) {
        if (c.dead) continue;
        candidates.push_back({c.session.inTty(), c.session.priority(), c.enteredAt});
        order.push_back(&c);
    }
    auto best = pickOwner(candidates);
    return best ? order[*best] : nullptr;
}

void Server::handleKeys() {
    for (const DeviceKey& k : display_.takeKeys()) {
        const MappedKey m = mapDeviceKey(k, facts_.columns);
        if (m.kind == MappedKey::Kind::SwitchDestination) {
            switchDestination();
        } else if (m.kind == MappedKey::Kind::Command) {
            if (Client* c = owner()) {
                auto packet = c->session.keyPacket(m.code);
                if (!packet.empty()) {
                    queue(*c, std::move(packet));
                    flush(*c);
                }
            }
        }
    }
}

void Server::switchDestination() {
    // Text line and pins; without a text line, the pins and none (the pins go
    // back to the application in front).
    if (display_.equipment().textCells > 0)
        destination_ = destination_ == Destination::TextLine ? Destination::Pins : Destination::TextLine;
    else
        destination_ = destination_ == Destination::Pins ? Destination::Hidden : Destination::Pins;
    display_.claim(destination_);
    // The place left is cleared: the text line (or the pins) goes back to what else is shown.
    shownText_.reset();
    shownPins_.reset();
    dirty_ = true;
}

void Server::refresh() {
    if (!dirty_) return;
    dirty_ = false;
    DisplayFacts next = computeFacts();
    const std::size_t cells = std::size_t{next.columns} * next.rows;
    std::vector<uint8_t> rendered(cells, 0);
    if (Client* c = owner()) {
        auto& s = c->session;
        if (s.text().size() == cells) {
            rendered = composeCells(table_.cells(s.text()), s.andMask(), s.orMask(), s.cursor());
        }
    }
    next.renderedCells = rendered;
    const Equipment& eq = display_.equipment();
    std::vector<uint8_t> text(static_cast<std::size_t>(std::max(eq.textCells, 0)), 0);
    std::vector<uint8_t> pins = drawOnPins({}, {}, eq.width, eq.height);
    if (destination_ == Destination::TextLine) {
        for (std::size_t i = 0; i < text.size() && i < rendered.size(); ++i) text[i] = toDeviceOrder(rendered[i]);
    } else if (destination_ == Destination::Pins) {
        pins = drawOnPins(rendered, {static_cast<int>(next.columns), static_cast<int>(next.rows)}, eq.width, eq.height);
    }
    // Only what changed goes to the device.
    if (!text.empty() && shownText_ != text && display_.showText(text)) shownText_ = text;
    if (!pins.empty() && shownPins_ != pins && display_.showPins(pins)) shownPins_ = pins;
    for (Client& c : clients_) {
        if (c.dead) continue;
        for (auto& u : c.session.updates(facts_, next)) queue(c, std::move(u));
        flush(c);
    }
    facts_ = std::move(next);
}

}  // namespace tavik::brl
