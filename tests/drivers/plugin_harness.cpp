// Test harness for driver plug-ins.
#include "tests/drivers/plugin_harness.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "common/ini_store.h"
#include "common/settings.h"
#include "platform/atomic_word.h"
#include "platform/word_wait.h"
#include <gtest/gtest.h>
#include "common/shared_block.h"

namespace fs = std::filesystem;

namespace tavik::test {
namespace {

uint64_t nowMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

}  // namespace

TempSettings::TempSettings() {
    ::setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1);
    InitSettingsPaths();
}

std::string TempSettings::iniPath() const { return dir_.path() + "/Orvane/TAVIK200_J/TAVIK.ini"; }

void TempSettings::mapPort(int portIndex, const std::string& devicePath) {
    profileWriteString("Ports", "Com" + std::to_string(portIndex + 1), devicePath, iniPath());
}

FakeDevice::FakeDevice(padsim::DeviceConfig config, std::string linkPath)
    : model_(std::move(config)), link_(std::move(linkPath)) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ::grantpt(master_);
    ::unlockpt(master_);
    char name[128] = {};
    ::ptsname_r(master_, name, sizeof name);
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    ::tcgetattr(slave_, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(slave_, TCSANOW, &tio);
    ::fcntl(master_, F_SETFL, O_NONBLOCK);
    ::unlink(link_.c_str());
    (void)!::symlink(name, link_.c_str());
    thread_ = std::thread([this] { run(); });
}

FakeDevice::~FakeDevice() {
    stop();
    ::unlink(link_.c_str());
}

void FakeDevice::stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
    master_ = slave_ = -1;
}

void FakeDevice::run() {
    padsim::HostFrameReader reader(
        [this](const padsim::HostFrame& f) {
            std::vector<uint8_t> reply;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                frames_.emplace_back(f.command, std::vector<uint8_t>(f.payload.begin(), f.payload.end()));
                reply = model_.handle(f).reply;
            }
            if (!reply.empty()) (void)!::write(master_, reply.data(), reply.size());
            changed_.notify_all();
        },
        [this](std::span<const uint8_t> bytes) {
            std::lock_guard<std::mutex> lock(mutex_);
            junk_.insert(junk_.end(), bytes.begin(), bytes.end());
            model_.noteJunk(bytes.size());
        });
    uint8_t buf[4096];
    while (!stop_) {
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, 20) > 0) {
            ssize_t n = ::read(master_, buf, sizeof buf);
            if (n > 0) reader.feed({buf, static_cast<size_t>(n)}, nowMs());
        }
        reader.poll(nowMs());
    }
}

void FakeDevice::inspect(const std::function<void(const padsim::DeviceModel&)>& fn) {
    std::lock_guard<std::mutex> lock(mutex_);
    fn(model_);
}

bool FakeDevice::waitFor(const std::function<bool(const padsim::DeviceModel&)>& pred, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return pred(model_); });
}

void FakeDevice::send(const std::vector<uint8_t>& bytes) { (void)!::write(master_, bytes.data(), bytes.size()); }

std::vector<uint8_t> FakeDevice::lastFrame(uint8_t command) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = frames_.rbegin(); it != frames_.rend(); ++it)
        if (it->first == command) return it->second;
    return {};
}

int FakeDevice::framesWith(uint8_t command) {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (auto& f : frames_) n += f.first == command;
    return n;
}

std::vector<uint8_t> FakeDevice::junk() {
    std::lock_guard<std::mutex> lock(mutex_);
    return junk_;
}

PluginLib::PluginLib(const std::string& name) {
    const char* dir = std::getenv("TAVIK_BIN_DIR");
    std::string path = name.find('/') != std::string::npos ? name : std::string(dir ? dir : ".") + "/" + name + ".so";
    handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) return;
    auto sym = [this](const char* s) { return ::dlsym(handle_, s); };
    Version = reinterpret_cast<TavikVersionFn>(sym("Version"));
    drvInit = reinterpret_cast<TavikDrvInitFn>(sym("drvInit"));
    drvSetStatusWindow = reinterpret_cast<TavikDrvSetStatusWindowFn>(sym("drvSetStatusWindow"));
    drvStart = reinterpret_cast<TavikDrvStartFn>(sym("drvStart"));
    drvEnd = reinterpret_cast<TavikDrvEndFn>(sym("drvEnd"));
    drvIsConnected = reinterpret_cast<TavikDrvIsConnectedFn>(sym("drvIsConnected"));
    chSendDirectCommand = reinterpret_cast<TavikChSendDirectCommandFn>(sym("chSendDirectCommand"));
    chSendDirectBytes = reinterpret_cast<TavikChSendDirectBytesFn>(sym("chSendDirectBytes"));
    drvDroppedNotifications = reinterpret_cast<TavikDrvDroppedNotificationsFn>(sym("drvDroppedNotifications"));
    sink_.context = this;
    sink_.setText = &PluginLib::onLine;
    if (drvSetStatusWindow) drvSetStatusWindow(reinterpret_cast<TavikWindowHandle>(&sink_));
}

PluginLib::~PluginLib() {
    if (handle_) {
        drvEnd();
        drvSetStatusWindow(0);
        ::dlclose(handle_);
    }
}

void PluginLib::onLine(void* context, const char* line) {
    auto* self = static_cast<PluginLib*>(context);
    {
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->lines_.emplace_back(line);
    }
    self->changed_.notify_all();
}

std::vector<std::string> PluginLib::lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

bool PluginLib::waitLine(const std::string& text, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        for (auto& l : lines_)
            if (l == text) return true;
        return false;
    });
}

NotifyThread::NotifyThread() {
    thread_ = std::thread([this] {
        auto q = platform::ThreadQueue::createForCurrentThread();
        if (!q) return;
        MessageNumbers msgs;
        registerMessages(msgs);
        tid_ = q->threadId();
        while (!stop_) {
            platform::ThreadMessage m{};
            if (!q->wait(m, 20)) continue;
            if (m.message != msgs.notify) continue;
            Event e{static_cast<int32_t>(m.wParam), m.lParam, {}};
            if (e.code == kNotifyDataBlock) {
                if (auto block = SharedBlock::open(static_cast<int32_t>(m.lParam & 0xFFFFFFFF))) {
                    e.data.push_back(static_cast<uint8_t>(block->read(4)));
                    auto bytes = block->bytes();
                    e.data.insert(e.data.end(), bytes.begin() + 8, bytes.end());
                    publishBlockResult(*block, 1);
                }
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                events_.push_back(std::move(e));
            }
            changed_.notify_all();
        }
    });
    while (tid_ == 0) std::this_thread::yield();
}

NotifyThread::~NotifyThread() {
    stop_ = true;
    thread_.join();
}

bool NotifyThread::waitEvents(size_t count, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return events_.size() >= count; });
}

std::vector<NotifyThread::Event> NotifyThread::events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

void fillDeviceFields(PortDataMap& m, int width, int height, int cells) {
    m.baudRate = 115200;
    m.textCells = cells;
    m.graphicWidth = width;
    m.graphicHeight = height;
    setFieldString(m.deviceName, "PX-64");
    setFieldString(m.driverFile, "Padrik.dll");
    m.entryCount = 1;
}

void enterDisplaySlot(PortDataMap& m, int slot, int32_t pid, int32_t notifyThread, bool isDefault) {
    m.slots[slot].processId = pid;
    m.slots[slot].notifyThreadId = notifyThread;
    m.slots[slot].planeLevel = 10;
    m.slots[slot].displayFlags = kDisplayModeOn | (isDefault ? kDefaultClient : 0);
    if (isDefault) m.defaultSlot = slot;
    platform::addWord(m.displayClientCount, 1);
}

void writeSlot(PortDataMap& m, int slot, const std::vector<uint8_t>& text, const std::vector<uint8_t>& dots,
               int format, int level) {
    ASSERT_TRUE(takeSlotBusy(m, slot, 5000));
    ClientSlot& s = m.slots[slot];
    if (!text.empty()) {
        std::memset(s.text, 0, sizeof s.text);
        std::memcpy(s.text, text.data(), std::min(text.size(), sizeof s.text));
        s.textChanged = 1;
    }
    if (!dots.empty()) {
        std::memcpy(s.graphic, dots.data(), std::min(dots.size(), sizeof s.graphic));
        s.graphicFormat = format;
        if (level) s.planeLevel = level;
        s.graphicChanged = 1;
    }
    const int32_t fg = platform::loadWord(m.foregroundSlot);
    if (fg == slot || (fg == -1 && platform::loadWord(m.defaultSlot) == slot)) {
        platform::storeWord(m.displayRequest, slot);
        platform::wakeWordWaiters(m.displayRequest);
    }
    setSlotBusy(m, slot, 0);
}

}  // namespace tavik::test
