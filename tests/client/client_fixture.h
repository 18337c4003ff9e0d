// The fixture the client library's end-to-end tests share: padsim on a port
// of its own in a private folder, the test application started as real
// processes on the client library, and the controller they start.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#include "tests/support/child.h"
#include "tests/support/files.h"
#include "tests/support/padsim.h"
#include "tests/support/processes.h"
#include "tests/support/suite_env.h"
#include "tests/support/temp_dir.h"

namespace client_test {

using namespace tavik::test;

class ClientEndToEnd : public ::testing::Test {
protected:
    // `tag` names the folder; the tests of one process take ports `spacing` apart.
    ClientEndToEnd(std::string tag, int spacing) : tag_(std::move(tag)), spacing_(spacing) {}

    // Skips when the controller, the plug-in or padsim has not been built.
    void SetUp() override {
        const std::string bin = binDir();
        for (const char* f : {"TAVIK", "Padrik.so", "padsim"})
            if (!std::filesystem::exists(bin + "/" + f)) GTEST_SKIP() << f << " not built yet";
        tmp_.emplace(tag_);
        dir_ = tmp_->path();
        static int offset = 0;
        port_ = 10 + (::getpid() + spacing_ * offset++) % 50;
        pad_ = std::make_unique<Padsim>(dir_, std::vector<std::string>{"--answer", "a5=5a"});
        writePortMap(dir_, port_, pad_->link());
        foreground(0);
        env_ = suiteEnv(dir_, {"DISPLAY="});
    }
    void TearDown() override { endAll(); }

    // Ends every application, then waits for the controller to end by itself
    // (false when it is still there after the bound) and ends padsim.
    bool endAll() {
        apps_.clear();
        const bool ended = dir_.empty() || waitUntil([&] { return controllers().empty(); });
        pad_.reset();
        return ended;
    }

    Child& app() {
        apps_.push_back(std::make_unique<Child>(CLIENT_APP_PATH, std::vector<std::string>{}, env_));
        return *apps_.back();
    }
    // The process whose slot the controller shows (0: none).
    void foreground(pid_t pid) { writeFile(dir_ + "/fg", std::to_string(pid) + "\n"); }
    std::vector<pid_t> controllers() { return controllerPids(binDir() + "/TAVIK", port_); }
    std::string start() { return "start " + std::to_string(port_) + " QX-64X48"; }

    std::optional<TempDir> tmp_;  // goes last: the processes below end first
    std::string dir_;
    int port_ = 0;
    std::unique_ptr<Padsim> pad_;
    std::vector<std::string> env_;
    std::vector<std::unique_ptr<Child>> apps_;

private:
    std::string tag_;
    int spacing_;
};

}  // namespace client_test
