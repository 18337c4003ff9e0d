// The compositor's window list: a hostile reply's cost is bounded, and the tree is read again
// only after the compositor reported a change (or lost the subscription).
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/desktop/wlroots/sway_ipc.h"
#include "platform/desktop/wlroots/sway_tree.h"

using namespace tavik::desktop::wayland;

namespace {

TEST(CompositorTreeBound, ValuesPastTheBoundAreNotReadAndUnusedMembersAreNotKept) {
    std::string junk = "[";
    for (int i = 0; i < 300000; ++i) junk += i ? ",[]" : "[]";
    junk += "]";
    const std::string view = R"({"app_id": "a", "rect": {"x": 1, "y": 2, "width": 3, "height": 4}})";
    // Within the bound: the window is found, the junk member dropped on the way.
    const auto before = parseCompositorTree(R"({"nodes": [)" + view + R"(], "junk": [[], [], []]})");
    ASSERT_EQ(before.size(), 1u);
    EXPECT_EQ(before[0].appId, "a");
    // 300 000 values before the window: reading stops at the bound, the window after it is not read.
    EXPECT_TRUE(parseCompositorTree(R"({"junk": )" + junk + R"(, "nodes": [)" + view + "]}").empty());
}

std::string frame(uint32_t type, const std::string& payload) {
    std::string s = "i3-ipc";
    const uint32_t n = uint32_t(payload.size());
    s.append(reinterpret_cast<const char*>(&n), 4);
    s.append(reinterpret_cast<const char*>(&type), 4);
    return s + payload;
}

// A stand-in compositor: answers get_tree with a window titled by the number of the read, keeps
// subscriptions open and sends them an event on request.
class FakeCompositor {
public:
    FakeCompositor() {
        char tmpl[] = "/tmp/tavik-tree-XXXXXX";
        dir_ = ::mkdtemp(tmpl) ? tmpl : "";
        path_ = dir_ + "/ipc.sock";
        listen_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path_.c_str(), sizeof addr.sun_path - 1);
        ok_ = ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ::listen(listen_, 8) == 0;
        if (ok_) thread_ = std::thread([this] { serve(); });
    }
    ~FakeCompositor() {
        ::shutdown(listen_, SHUT_RDWR);
        if (thread_.joinable()) thread_.join();
        ::close(listen_);
        for (int s : subscribers_) ::close(s);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    bool ok() const { return ok_; }
    const std::string& path() const { return path_; }
    int reads() const { return reads_.load(); }
    void changeWindows() {
        std::lock_guard lock(m_);
        const std::string ev = frame(0x80000003u, R"({"change": "title"})");
        for (int s : subscribers_) (void)::send(s, ev.data(), ev.size(), MSG_NOSIGNAL);
    }
    void dropSubscriptions() {
        std::lock_guard lock(m_);
        for (int s : subscribers_) ::close(s);
        subscribers_.clear();
    }

private:
    void serve() {
        while (true) {
            const int c = ::accept(listen_, nullptr, nullptr);
            if (c < 0) return;
            char head[14];
            if (::recv(c, head, sizeof head, MSG_WAITALL) != ssize_t(sizeof head)) {
                ::close(c);
                continue;
            }
            uint32_t length = 0, type = 0;
            std::memcpy(&length, head + 6, 4);
            std::memcpy(&type, head + 10, 4);
            std::string payload(length, '\0');
            if (length) (void)::recv(c, payload.data(), length, MSG_WAITALL);
            if (type == kIpcSubscribe) {
                const std::string r = frame(kIpcSubscribe, R"({"success": true})");
                (void)::send(c, r.data(), r.size(), MSG_NOSIGNAL);
                std::lock_guard lock(m_);
                subscribers_.push_back(c);
                continue;
            }
            const int n = ++reads_;
            const std::string tree = R"({"nodes": [{"app_id": "a", "name": "t)" + std::to_string(n) +
                                     R"(", "rect": {"x": 0, "y": 0, "width": 10, "height": 10}}]})";
            const std::string r = frame(kIpcGetTree, tree);
            (void)::send(c, r.data(), r.size(), MSG_NOSIGNAL);
            ::close(c);
        }
    }
    std::string dir_, path_;
    int listen_ = -1;
    bool ok_ = false;
    std::atomic<int> reads_{0};
    std::mutex m_;
    std::vector<int> subscribers_;
    std::thread thread_;
};

std::string titleOf(const std::optional<std::vector<CompositorWindow>>& w) {
    return w && w->size() == 1 ? (*w)[0].title : "(none)";
}

TEST(CompositorWindowsCache, TheTreeIsReadAgainOnlyAfterAReportedChangeOrALostSubscription) {
    FakeCompositor fake;
    ASSERT_TRUE(fake.ok());
    CompositorWindows windows(fake.path(), std::chrono::hours(1));  // no expiry within the test
    EXPECT_EQ(titleOf(windows.get()), "t1");
    for (int i = 0; i < 5; ++i) EXPECT_EQ(titleOf(windows.get()), "t1");
    EXPECT_EQ(fake.reads(), 1);

    // An event arrives before the next query (its delivery is waited for by reading again).
    fake.changeWindows();
    std::string seen;
    for (int i = 0; i < 200 && (seen = titleOf(windows.get())) == "t1"; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(seen, "t2");
    EXPECT_EQ(titleOf(windows.get()), "t2");
    EXPECT_EQ(fake.reads(), 2);

    // The compositor closed the subscription: the tree is read again, and the next call
    // subscribes anew.
    fake.dropSubscriptions();
    for (int i = 0; i < 200 && (seen = titleOf(windows.get())) == "t2"; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(seen, "t3");
}

}  // namespace
