// The braille server on padsim's 64 x 48 model for the end-to-end tests:
// padsim, the port map, the server on a loopback endpoint of the test's own
// with a key file, and screen-reader clients on the real client library
// (Debian's Python binding). Skips when a program or the binding is missing.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "brlapi/cells.h"
#include "brlapi/protocol.h"
#include "tests/support/child.h"
#include "tests/support/files.h"
#include "tests/support/padsim.h"
#include "tests/support/processes.h"
#include "tests/support/suite_env.h"
#include "tests/support/temp_dir.h"

namespace brlapi_test {

using namespace tavik::test;
namespace brl = tavik::brl;

inline constexpr const char* kPython = "/usr/bin/python3";
inline constexpr const char* kTable = "en-us-comp8-ext.utb";

// The text line padsim shows for `text` with the cursor on cell `cursor`
// (1-based), from liblouis's own translation asked of the client `c`.
inline std::string louisLine(Child& c, const std::string& text, int cursor) {
    const std::string dots = c.call(std::string("louis ") + kTable + " " + text).substr(6);
    std::vector<unsigned char> line(32, 0);
    for (size_t i = 0; i < line.size(); ++i) {
        uint8_t cell = i * 2 + 1 < dots.size() ? static_cast<uint8_t>(std::stoi(dots.substr(i * 2, 2), nullptr, 16)) : 0;
        if (static_cast<int>(i) + 1 == cursor) cell |= brl::kCursorDots;
        line[i] = brl::toDeviceOrder(cell);
    }
    return hexOf(line);
}

// The pins padsim shows for `text` drawn as cells on the 64 x 48 pin field.
inline std::vector<std::string> louisPins(Child& c, const std::string& text) {
    const std::string dots = c.call(std::string("louis ") + kTable + " " + text).substr(6);
    const brl::PinGrid grid = brl::pinGrid(64, 48);
    std::vector<uint8_t> cells(static_cast<size_t>(grid.columns) * static_cast<size_t>(grid.rows), 0);
    for (size_t i = 0; 2 * i + 1 < dots.size() && i < cells.size(); ++i)
        cells[i] = static_cast<uint8_t>(std::stoi(dots.substr(2 * i, 2), nullptr, 16));
    const auto plane = brl::drawOnPins(cells, grid, 64, 48);
    std::vector<std::string> rows(48, std::string(64, '.'));
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            if (plane[static_cast<size_t>((y / 8) * 64 + x)] & (1u << (y % 8))) rows[static_cast<size_t>(y)][static_cast<size_t>(x)] = '#';
    return rows;
}

class BrailleServer : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string bin = binDir();
        for (const char* f : {"TAVIK", "Padrik.so", "padsim", "tavik-brlapi"})
            if (!std::filesystem::exists(bin + "/" + f)) GTEST_SKIP() << f << " not built";
        if (std::system((std::string(kPython) + " -c 'import brlapi, louis' 2>/dev/null").c_str()) != 0)
            GTEST_SKIP() << "python3-brlapi or python3-louis is not installed";
        tmp_.emplace("brlapi-e2e");
        dir_ = tmp_->path();
        port_ = 10 + ::getpid() % 50;
        number_ = 1 + ::getpid() % 90;
        pad_ = std::make_unique<Padsim>(dir_);
        writePortMap(dir_, port_, pad_->link());
        writeFile(dir_ + "/fg", "0\n");
        key_ = dir_ + "/brlapi.key";
        env_ = suiteEnv(dir_, {"DISPLAY=", "BRLAPI_HOST=127.0.0.1:" + std::to_string(number_),
                               "BRLAPI_AUTH=keyfile:" + key_, "XDG_RUNTIME_DIR=" + dir_});
        server_ = std::make_unique<Child>(bin + "/tavik-brlapi",
                                          std::vector<std::string>{"--port", std::to_string(port_), "--model", "QX-64X48",
                                                                   "--host", "127.0.0.1:" + std::to_string(number_),
                                                                   "--key-file", key_, "--table", kTable},
                                          env_);
        auto listening = server_->expect("listening ");
        ASSERT_TRUE(listening) << "the server did not start";
        ASSERT_EQ(*listening, "listening 127.0.0.1:" + std::to_string(number_));
    }
    void TearDown() override {
        clients_.clear();
        server_.reset();
        if (!dir_.empty()) waitUntil([&] { return controllerPids(binDir() + "/TAVIK", port_).empty(); });
        pad_.reset();
    }
    Child& client() {
        clients_.push_back(std::make_unique<Child>(kPython, std::vector<std::string>{BRLAPI_CLIENT_PY}, env_));
        return *clients_.back();
    }
    std::vector<uint8_t> key() {
        const std::string k = readFile(key_);
        return {k.begin(), k.end()};
    }
    uint16_t tcpPort() const { return static_cast<uint16_t>(4101 + number_); }
    // The text line padsim shows for `text` with the cursor on cell `cursor`
    // (1-based), from liblouis's own translation.
    std::string expectedLine(Child& c, const std::string& text, int cursor) { return louisLine(c, text, cursor); }
    bool lineShows(const std::string& hex) {
        return pad_->waitState([&](const std::string& s) { return Padsim::value(s, "text") == hex; });
    }

    std::optional<TempDir> tmp_;
    std::string dir_, key_;
    int port_ = 0, number_ = 0;
    std::unique_ptr<Padsim> pad_;
    std::vector<std::string> env_;
    std::unique_ptr<Child> server_;
    std::vector<std::unique_ptr<Child>> clients_;
};

}  // namespace brlapi_test
