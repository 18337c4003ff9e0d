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
    // Stops the loop and waits for the thread at most ~0.1 s: a thread held up in a call to an
    // application that does not answer ends by itself later (it holds what it uses).
    ~Hub();
    Hub(const Hub&) = delete;
    Hub& operator=(const Hub&) = delete;

    using Handler = std::function<void(const AtspiEvent&)>;
    // What a registration the hub thread has not made within its bound becomes: undone (its
    // handler never runs; the caller gets 0), or kept (it is made when the thread gets to it;
    // the caller gets its token at once). The first registration of a process waits for the
    // accessibility registry, which a busy machine may take seconds to start.
    enum class Late { Undo, Keep };
    // Calls `handler` for every event of `eventType` (e.g. "window:activate",
    // "object:state-changed:focused"). Returns a token for remove(), 0 when the registration
    // failed, the hub has ended, or (Late::Undo) the hub thread did not answer within
    // `timeoutMs`. With Late::Keep a late registration's token is returned and stands for the
    // registration to come (a failure then is not reported). Handlers hold by value what they
    // use: one may still be running, or about to run, when a remove() that timed out returns.
    int listen(const std::string& eventType, Handler handler, int timeoutMs = 3000, Late late = Late::Undo);
    // Calls `tick` every `ms` milliseconds (>= 10). Token, bound and `late` as for listen().
    int every(unsigned ms, std::function<void()> tick, int timeoutMs = 3000, Late late = Late::Undo);
    // Ends a listener or tick and waits for that at most `timeoutMs`. True when it is ended: the
    // handler is not running and never runs again. False when the hub thread did not answer in
    // time: the handler is ended as soon as the thread gets to it (never called again once that
    // ran), and is released then. Unknown tokens are ignored.
    bool remove(int token, int timeoutMs = 500);

    // Runs `fn` on the hub thread (at once when called there) and waits for it at most
    // `timeoutMs`; false when it did not finish in time (it may still run later: capture by
    // value what it needs). While the thread has not answered a call that timed out (it is held
    // up, e.g. by an application that does not answer), later calls do not wait at all.
    bool run(std::function<void()> fn, int timeoutMs = 3000);
    // Runs `fn` on the hub thread later, without waiting (at once when called there).
    void post(std::function<void()> fn);

    struct State;  // shared with the thread, which may outlive a hub that gave up on it

private:
    explicit Hub(std::shared_ptr<State> s) : s_(std::move(s)) {}
    std::shared_ptr<State> s_;
};

}  // namespace tavik::atspi
