// The controller's command codes as decisions: which command a thread
// message asks for after every value in it was checked, and the pure rules of
// show/hide and of the reopen answer. No process state here, so every rule can
// be tested with any value a client might post or write into the map.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace tavik::controller {

enum class Command {
    OpenPort,       // argument: port index 0..79
    ClosePort,      // no argument
    ReopenPort,     // argument: shared block number 0..1023
    DirectCommand,  // argument: shared block number
    ShowWindow,     // argument: 1 hide, 0 show
    DirectBytes,    // argument: shared block number
    BringToFront,   // no argument: show the window whatever the hide policy
};

// The message controllers send one another for "TAVIK --show" and the hot
// key (clients never send it): unlike command 9 it shows a window the policy
// keeps minimised or hidden.
constexpr uint64_t kCmdBringToFront = 12;

struct CommandRequest {
    Command command;
    int32_t argument = 0;
};

// Checks a command message's wParam (code) and lParam (argument). nullopt for
// an unknown code or an argument out of range (such a message is ignored).
std::optional<CommandRequest> decodeCommand(uint64_t wParam, int64_t lParam);

// What a show/hide request does to the window and to the map's
// `allowHideWindow` policy.
struct ShowHideAction {
    bool change = false;             // false: nothing happens
    bool hide = false;               // hide (true) or show normally (false)
    bool showHideButton = false;     // make the Hide button visible
    int32_t newAllowHideWindow = 0;  // value to store in the map when `change`
};
// argument 1: a policy above 1 becomes 1 and the window hides, except that
// "Show always" (3) ignores hide requests.
// argument 0: policy 0 or 1 becomes 2, the Hide button shows, the window shows.
// Any other policy or argument: nothing.
ShowHideAction decideShowHide(int32_t allowHideWindow, int32_t argument);
// Bringing to front always shows the window; policies 0 and 1 become 2 (as
// a show request makes them), "Show always" keeps its invisible Hide button.
ShowHideAction decideBringToFront(int32_t allowHideWindow);

// The port indexes "TAVIK --show" and the hot key look at: every serial
// port (0..63) and every USB display (64..79).
std::vector<int32_t> controllerScanPorts();

// Result a reopen writes after a successful drvStart, from the map as it is
// now: -1 while the port is still marked closing by a client's close request.
// `stillClosing` tells the reopen thread to poll again.
struct ReopenState {
    bool stillClosing;
    int32_t result;
};
ReopenState reopenState(int32_t status, int32_t closingSlot);

}  // namespace tavik::controller
