// A fake sysfs tree and settings folder for the USB detection tests: tty
// nodes under class/tty linked to USB device folders with idVendor,
// idProduct and a bound driver, as the kernel lays them out.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "client/selection/usb_tty_scan.h"

namespace tavik::selection::test {

namespace fs = std::filesystem;

class FakeSysfs {
public:
    FakeSysfs() {
        char pattern[] = "/tmp/tavik_sel_XXXXXX";
        root_ = ::mkdtemp(pattern);
        fs::create_directories(root_ / "class/tty");
        fs::create_directories(root_ / "dev");
    }
    ~FakeSysfs() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    FakeSysfs(const FakeSysfs&) = delete;
    FakeSysfs& operator=(const FakeSysfs&) = delete;

    // A usb-serial node (ttyUSB*: the tty's device is a port below the
    // interface, driver on the port) or an ACM node (device = interface).
    void addUsbNode(const std::string& name, const std::string& vendor, const std::string& product,
                    const std::string& driver) {
        const fs::path usb = root_ / "devices/usb1" / ("1-" + name);
        const fs::path iface = usb / ("1-" + name + ":1.0");
        fs::create_directories(iface);
        std::ofstream(usb / "idVendor") << vendor << "\n";
        std::ofstream(usb / "idProduct") << product << "\n";
        fs::path device = iface;
        if (name.rfind("ttyUSB", 0) == 0) {
            device = iface / name;
            fs::create_directories(device);
        }
        fs::create_directories(root_ / "drivers" / driver);
        fs::create_directory_symlink(root_ / "drivers" / driver, device / "driver");
        fs::create_directories(root_ / "class/tty" / name);
        fs::create_directory_symlink(device, root_ / "class/tty" / name / "device");
    }
    // A tty whose device is not on USB (a platform UART): never listed.
    void addPlainNode(const std::string& name, int uartType) {
        const fs::path dev = root_ / "devices/platform/serial8250" / name;
        fs::create_directories(dev);
        fs::create_directories(root_ / "class/tty" / name);
        fs::create_directory_symlink(dev, root_ / "class/tty" / name / "device");
        std::ofstream(root_ / "class/tty" / name / "type") << uartType << "\n";
    }

    SysfsRoots roots() const { return {(root_ / "class/tty").string(), (root_ / "dev").string()}; }
    std::string ini() const { return (root_ / "TAVIK.ini").string(); }
    std::string dev(const std::string& name) const { return (root_ / "dev" / name).string(); }
    const fs::path& root() const { return root_; }

private:
    fs::path root_;
};

}  // namespace tavik::selection::test
