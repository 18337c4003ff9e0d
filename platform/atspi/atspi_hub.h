// The process's one AT-SPI 2 event loop: a thread of its own running the accessibility events
// on a private GLib main context, shared by every part of the program that follows windows,
// focus or caret. The accessibility library keeps one connection and one event context per
// process, so there is one hub per process too, made at the first acquire() and ended when the
// last holder lets go.
//
// Handlers and ticks run on the hub thread, one at a time; they may call AT-SPI freely (every
// AT-SPI call of the suite runs there) and may call remove() on themselves. Other threads use
// run() to reach AT-SPI.
#pragma once

#include <atspi/atspi.h>

#include <functional>
#include <memory>
#include <string>

namespace tavik::atspi {

class Hub {
public:
    // The running hub; nullptr when there is no accessibility bus or it did not answer within
    // ~3 s (a start still under way goes on by itself and is used by a later acquire()).
    static std::shared_ptr<Hub> acquire();
    ~Hub();  // stops the loop and joins the thread (handlers were removed by their owners)
    Hub(const Hub&) = delete;
    Hub& operator=(const Hub&) = delete;

    using Handler = std::function<void(const AtspiEvent&)>;
    // Calls `handler` for every event of `eventType` (e.g. "window:activate",
    // "object:state-changed:focused"). Returns a token for remove(), 0 when the registration
    // failed or the hub thread did not answer within ~3 s.
    int listen(const std::string& eventType, Handler handler);
    // Calls `tick` every `ms` milliseconds (>= 10). Token as for listen().
    int every(unsigned ms, std::function<void()> tick);
    // Ends a listener or tick; once it returns the handler is not running and never runs again.
    // Unknown tokens are ignored.
    void remove(int token);

    // Runs `fn` on the hub thread (at once when called there) and waits for it at most
    // `timeoutMs`; false when it did not finish in time (it may still run later: capture by
    // value what it needs).
    bool run(std::function<void()> fn, int timeoutMs = 3000);

    struct State;  // shared with the thread, which may outlive a hub that gave up on it

private:
    explicit Hub(std::shared_ptr<State> s) : s_(std::move(s)) {}
    std::shared_ptr<State> s_;
};

}  // namespace tavik::atspi
