// The USB port detection: which USB-serial ports carry a tactile display or a
// braille note-taker, and the questions that let the user accept one.
//
// Where the names come from on Linux: each kind of device is recognised by
// rules in TAVIK.ini section "UsbDetection" (keys "Display", "Notaro32",
// "NotaroPocket": comma-separated "vvvv:pppp" USB ids, "vvvv:*" for any
// product of a vendor, or a kernel driver name such as "cp210x"). The first
// matching ttyACM/ttyUSB node of a kind is found; its port index comes from
// the "Ports" table. When no node is a display, key "PortNo" of the same
// section (the display driver's stored port, e.g. "COM5") is taken instead.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "client/selection/selection_ui.h"
#include "client/selection/usb_tty_scan.h"

namespace tavik::selection {

enum class UsbKind { Display, Notaro32, NotaroPocket };

struct DetectionContext {
    SysfsRoots roots;
    std::string iniPath;  // TAVIK.ini
    uint16_t language;    // the note-taker kinds are searched only with 0x0411
};

struct FoundPort {
    UsbKind kind;
    int32_t portIndex;  // 0..63
};

// The built-in rule of a kind, used when its TAVIK.ini key is absent: the
// Silicon Labs bridge driver for the Pocket note-taker, none for the others.
std::string defaultRule(UsbKind kind);

// True when `node` matches the comma-separated rule text.
bool matchesRule(const UsbTtyNode& node, std::string_view rule);

// The found ports in the order display, 32 model, Pocket model (at most one
// each). May write new "Ports" keys for nodes that had no Com number.
std::vector<FoundPort> searchUsbPorts(const DetectionContext& context);

// gdUsbPortDetection: asks about each found port in order (Yes/No/Cancel).
// 1 with *portIndex written (when given) after Yes; -1 after Cancel, or when
// a question cannot be shown; 0 when nothing was found or every port was
// declined (after the "not detected" box).
int usbPortDetection(SelectionUi& ui, const DetectionContext& context, unsigned long owner, int* portIndex);

}  // namespace tavik::selection
