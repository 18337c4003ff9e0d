// The search order of the USB detection and its questions.
#include "client/selection/usb_detection.h"

#include <cstdio>

#include "client/selection/com_ports.h"
#include "client/selection/texts.h"
#include "common/ini_store.h"
#include "common/settings.h"

namespace tavik::selection {

namespace {

constexpr const char* kSection = "UsbDetection";

const char* ruleKey(UsbKind kind) {
    switch (kind) {
        case UsbKind::Display: return "Display";
        case UsbKind::Notaro32: return "Notaro32";
        case UsbKind::NotaroPocket: return "NotaroPocket";
    }
    return "";
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool matchesToken(const UsbTtyNode& node, std::string_view token) {
    const auto colon = token.find(':');
    if (colon == std::string_view::npos) return !node.driver.empty() && token == node.driver;
    uint16_t vendor = 0, product = 0;
    if (!parseUsbId(token.substr(0, colon), vendor) || vendor != node.vendor) return false;
    const std::string_view p = token.substr(colon + 1);
    if (p == "*") return true;
    return parseUsbId(p, product) && product == node.product;
}

std::optional<int32_t> findKind(UsbKind kind, const std::vector<UsbTtyNode>& nodes, const DetectionContext& c) {
    const std::string rule = profileGetString(kSection, ruleKey(kind), defaultRule(kind), c.iniPath);
    for (const UsbTtyNode& node : nodes)
        if (matchesRule(node, rule)) return comIndexForNode(node.devicePath, c.iniPath, c.roots.sysClassTty);
    return std::nullopt;
}

const texts::Pair& question(UsbKind kind) {
    switch (kind) {
        case UsbKind::Display: return texts::kDisplayDetected;
        case UsbKind::Notaro32: return texts::kNotaro32Detected;
        case UsbKind::NotaroPocket: return texts::kNotaroPocketDetected;
    }
    return texts::kDisplayDetected;
}

const char* pick(const texts::Pair& p, uint16_t language) { return isJapanese(language) ? p.japanese : p.english; }

}  // namespace

std::string defaultRule(UsbKind kind) { return kind == UsbKind::NotaroPocket ? "cp210x" : ""; }

bool matchesRule(const UsbTtyNode& node, std::string_view rule) {
    while (!rule.empty()) {
        const auto comma = rule.find(',');
        const std::string_view token = trim(rule.substr(0, comma));
        if (!token.empty() && matchesToken(node, token)) return true;
        if (comma == std::string_view::npos) break;
        rule.remove_prefix(comma + 1);
    }
    return false;
}

std::vector<FoundPort> searchUsbPorts(const DetectionContext& c) {
    const std::vector<UsbTtyNode> nodes = scanUsbTtyNodes(c.roots);
    std::vector<FoundPort> found;
    auto display = findKind(UsbKind::Display, nodes, c);
    if (!display) display = comNameIndex(profileGetString(kSection, "PortNo", "", c.iniPath));
    if (display) found.push_back({UsbKind::Display, *display});
    if (isJapanese(c.language)) {
        if (auto p = findKind(UsbKind::Notaro32, nodes, c)) found.push_back({UsbKind::Notaro32, *p});
        if (auto p = findKind(UsbKind::NotaroPocket, nodes, c)) found.push_back({UsbKind::NotaroPocket, *p});
    }
    return found;
}

int usbPortDetection(SelectionUi& ui, const DetectionContext& c, unsigned long owner, int* portIndex) {
    const std::string caption = pick(texts::kCaption, c.language);
    for (const FoundPort& f : searchUsbPorts(c)) {
        char text[256];
        std::snprintf(text, sizeof text, pick(question(f.kind), c.language), f.portIndex + 1);
        switch (ui.messageBox(caption, text, Buttons::YesNoCancel, owner)) {
            case Answer::Yes:
                if (portIndex) *portIndex = f.portIndex;
                return 1;
            case Answer::No: continue;
            default: return -1;  // Cancel, or no way to ask
        }
    }
    ui.messageBox(caption, pick(texts::kNotDetected, c.language), Buttons::OkCancel, owner);
    return 0;
}

}  // namespace tavik::selection
