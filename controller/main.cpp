// TAVIK: the resident controller of one tactile display port. Parses the
// command line, sets up the queue and the signal descriptor, and runs the
// controller core with its window (or headless without a display) until the
// last client has left.
#include "common/messages.h"
#include "common/settings.h"
#include "controller/command_line.h"
#include "controller/controller.h"
#include "controller/driver_library.h"
#include "controller/headless_window.h"
#include "controller/joystick/joystick_input.h"
#include "controller/message_loop.h"
#include "platform/thread_queue.h"
#ifdef TAVIK_CONTROLLER_WINDOW
#include "controller/ui/windowed_run.h"
#endif

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

// Owns the signalfd that turns SIGTERM, SIGINT and SIGHUP into a readable
// descriptor. Built before any thread starts, so every thread (the plug-in's
// included) inherits the blocked mask and the signals reach only the loop.
class TerminationSignals {
public:
    TerminationSignals() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGHUP);
        // A starter that ignores these signals passes that on to us, and an
        // ignored signal never reaches a signalfd.
        for (int sig : {SIGTERM, SIGINT, SIGHUP}) std::signal(sig, SIG_DFL);
        if (pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0) fd_ = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
        if (fd_ < 0) std::perror("TAVIK: signalfd");
    }
    ~TerminationSignals() {
        if (fd_ >= 0) ::close(fd_);
    }
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;
    int fd() const { return fd_; }

private:
    int fd_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
    using namespace tavik;
    using namespace tavik::controller;

    const CommandLine cl = parseCommandLine(argc, argv);
    if (cl.version) {
        std::printf("TAVIK %s\n", TAVIK_VERSION_STRING);
        return 0;
    }
    if (cl.help) {
        std::fputs(usageText().c_str(), stdout);
        return 0;
    }
    // A descriptor passed on by the image this one replaced reaches no child.
    if (cl.claimFd) ::fcntl(*cl.claimFd, F_SETFD, FD_CLOEXEC);
    for (const auto& word : cl.unknown)
        std::fprintf(stderr, "TAVIK: ignoring unknown argument \"%s\" (see --help)\n", word.c_str());

    ReadUiLanguage();
    InitSettingsPaths();
    MessageNumbers messages;
    if (!registerMessages(messages)) return 0;

    if (cl.show) {
        // Bound to a key on desktops that give programs no hot keys.
        if (showRunningControllers(messages) == 0) std::fputs("TAVIK: no controller runs.\n", stderr);
        return 1;
    }
    if (!cl.remote) {
        // Started by hand: only bring the running controllers to the front.
        showRunningControllers(messages);
        return 1;
    }

    TerminationSignals signals;
    std::signal(SIGPIPE, SIG_IGN);
    auto queue = platform::ThreadQueue::createForCurrentThread();
    if (!queue) {
        std::fprintf(stderr, "TAVIK: cannot create the message queue of the main thread\n");
        return 0;
    }

#ifdef TAVIK_CONTROLLER_WINDOW
    // With a display the window; without one (or asked to) headless.
    if (!cl.headless)
        if (desktop::DisplayHold hold = ui::displayUsable())
            return ui::runWindowed(argc, argv, messages, *queue, signals.fd(), cl.portIndex, cl.claimFd.value_or(-1), {},
                                   std::move(hold));
#endif
    HeadlessWindow window;
    window.showMinimizedNoActivate();
    Controller controller(window, messages, queue->threadId(), pluginFolder());
    if (cl.claimFd) controller.inheritClaim(*cl.claimFd);
    if (cl.portIndex) controller.openPort(*cl.portIndex);

    // Joystick input without a window too (also after a restart without the
    // display): the settings say whether; the joystick may come later.
    const auto msNow = [] {
        return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now().time_since_epoch())
                                         .count());
    };
    JoystickInput joystick([&](uint32_t e) { controller.notifyKey(e); }, [&](uint32_t e) { controller.notifyAll(e); });
    LoopTicker joystickTicker;
    if (const JoystickSettings js = readJoystickSettings(TavikIniPath()); js.use) {
        joystick.start(js);
        joystickTicker = {joystick.dueMs(), [&] { joystick.tick(msNow()); }, [&] { return joystick.dueMs(); }};
    }

    runMessageLoop(controller, *queue, signals.fd(), messages, {}, std::move(joystickTicker));
    joystick.stop(msNow());
    controller.shutdownForExit();
    return 1;
}
