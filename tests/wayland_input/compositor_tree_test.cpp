// The compositor's window tree: windows found at any depth (tiled and floating), their content
// places in layout pixels, and the match of a window by process or by app id; the request on
// its IPC socket against a stand-in server.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/desktop/wlroots/sway_ipc.h"
#include "platform/desktop/wlroots/sway_tree.h"

using namespace tavik::desktop;
using namespace tavik::desktop::wayland;

namespace {

// A trimmed reply of the shape sway gives: root > output > workspace > split > views, a floating
// view, an Xwayland view (no app id, a class), and a title with escapes.
const char* const kTree = R"({
  "id": 1, "type": "root", "name": "root", "rect": {"x": 0, "y": 0, "width": 1024, "height": 768},
  "nodes": [{
    "id": 3, "type": "output", "name": "HEADLESS-1", "rect": {"x": 0, "y": 0, "width": 1024, "height": 768},
    "nodes": [{
      "id": 4, "type": "workspace", "name": "1", "rect": {"x": 0, "y": 0, "width": 1024, "height": 768},
      "nodes": [{
        "id": 5, "type": "con", "name": null, "window": null, "rect": {"x": 0, "y": 0, "width": 1024, "height": 768},
        "nodes": [
          {"id": 6, "type": "con", "name": "pattern tavik.paper", "app_id": "tavik.paper", "pid": 4242,
           "focused": false, "rect": {"x": 0, "y": 0, "width": 512, "height": 768},
           "window_rect": {"x": 0, "y": 0, "width": 512, "height": 768}, "nodes": [], "floating_nodes": []},
          {"id": 7, "type": "con", "name": "Caf\u00e9 \"notes\"", "app_id": "tavik.ink", "pid": 4243,
           "focused": true, "rect": {"x": 512, "y": 0, "width": 512, "height": 768},
           "window_rect": {"x": 2, "y": 24, "width": 508, "height": 742}, "nodes": []}
        ]
      }],
      "floating_nodes": [
        {"id": 9, "type": "floating_con", "name": "Dialog", "app_id": null, "pid": 4242,
         "window_properties": {"class": "XTerm", "instance": "xterm"},
         "rect": {"x": 300, "y": 200, "width": 200, "height": 100},
         "window_rect": {"x": 0, "y": 0, "width": 200, "height": 100}}
      ]
    }]
  }]
})";

TEST(CompositorTree, WindowsAtAnyDepthWithTheirContentInLayoutPixels) {
    const auto w = parseCompositorTree(kTree);
    ASSERT_EQ(w.size(), 3u);  // containers, workspaces and outputs are no windows
    EXPECT_EQ(w[0].id, 6);
    EXPECT_EQ(w[0].appId, "tavik.paper");
    EXPECT_EQ(w[0].pid, 4242);
    EXPECT_EQ(w[0].content, (Rect{0, 0, 512, 768}));
    EXPECT_FALSE(w[0].focused);
    // The content is the node's place moved by its window_rect (relative to the node).
    EXPECT_EQ(w[1].content, (Rect{514, 24, 508, 742}));
    EXPECT_EQ(w[1].title, "Caf\xc3\xa9 \"notes\"");
    EXPECT_TRUE(w[1].focused);
    // Floating, from Xwayland: the class stands in for the app id.
    EXPECT_EQ(w[2].appId, "XTerm");
    EXPECT_EQ(w[2].content, (Rect{300, 200, 200, 100}));
}

TEST(CompositorTree, WindowsMatchByProcessAndTitleOrByAppAndTitle) {
    const auto w = parseCompositorTree(kTree);
    // Process 4242 has two windows: the title picks one; without a fitting title, none.
    ASSERT_NE(windowOfProcess(w, 4242, "Dialog"), nullptr);
    EXPECT_EQ(windowOfProcess(w, 4242, "Dialog")->id, 9);
    EXPECT_EQ(windowOfProcess(w, 4242, "pattern tavik.paper")->id, 6);
    EXPECT_EQ(windowOfProcess(w, 4242, "Other"), nullptr);
    // Process 4243 has one: it is the window whatever its accessible name says.
    ASSERT_NE(windowOfProcess(w, 4243, "unrelated"), nullptr);
    EXPECT_EQ(windowOfProcess(w, 4243, "unrelated")->id, 7);
    EXPECT_EQ(windowOfProcess(w, 99, "Dialog"), nullptr);
    EXPECT_EQ(windowOfProcess(w, 0, "Dialog"), nullptr);

    EXPECT_EQ(windowOfApp(w, "tavik.ink", "Caf\xc3\xa9 \"notes\"")->id, 7);
    EXPECT_EQ(windowOfApp(w, "tavik.ink", "retitled")->id, 7);  // the app's one window
    EXPECT_EQ(windowOfApp(w, "tavik.none", "Dialog"), nullptr);
    EXPECT_EQ(windowOfApp(w, "", "Dialog"), nullptr);
}

TEST(CompositorTree, HostileRepliesGiveWhatWasReadAndNeverMore) {
    EXPECT_TRUE(parseCompositorTree("").empty());
    EXPECT_TRUE(parseCompositorTree("not json").empty());
    EXPECT_TRUE(parseCompositorTree("[1, 2, 3]").empty());
    // Cut short inside the second view: the first is kept.
    const std::string tree = kTree;
    const auto cut = parseCompositorTree(tree.substr(0, tree.find("\"id\": 7")));
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_EQ(cut[0].id, 6);
    // Nesting far deeper than any tree: no crash, nothing found below the bound.
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "{\"nodes\":[";
    EXPECT_TRUE(parseCompositorTree(deep).empty());
    // Wrong types and huge numbers: no window from a rect that is not an object; sizes clamped.
    const auto odd = parseCompositorTree(
        R"({"app_id": "a", "pid": "12", "rect": [1, 2], "nodes": [{"app_id": "b", "pid": 1e300,)"
        R"( "rect": {"x": -1e12, "y": 5, "width": 1e12, "height": 7}}]})");
    ASSERT_EQ(odd.size(), 1u);
    EXPECT_EQ(odd[0].appId, "b");
    EXPECT_EQ(odd[0].content, (Rect{INT32_MIN, 5, INT32_MAX, 7}));
    // A bad escape ends the reading.
    EXPECT_TRUE(parseCompositorTree(R"({"nodes": [{"app_id": "x\q", "rect": {"x": 0}}]})").empty());
}

}  // namespace

// ----- The compositor's IPC socket -----


namespace {

// A one-connection stand-in for the compositor: reads one request, records it, and answers with
// `reply` (raw bytes, header included) unless `silent`.
class FakeIpc {
public:
    explicit FakeIpc(std::string reply, bool silent = false) : reply_(std::move(reply)), silent_(silent) {
        char tmpl[] = "/tmp/tavik-ipc-XXXXXX";
        dir_ = ::mkdtemp(tmpl) ? tmpl : "";
        path_ = dir_ + "/ipc.sock";
        listen_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path_.c_str(), sizeof addr.sun_path - 1);
        ok_ = ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ::listen(listen_, 1) == 0;
        if (ok_) thread_ = std::thread([this] { serve(); });
    }
    ~FakeIpc() {
        ::shutdown(listen_, SHUT_RDWR);
        if (thread_.joinable()) thread_.join();
        ::close(listen_);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    bool ok() const { return ok_; }
    const std::string& path() const { return path_; }
    const std::string& request() const { return request_; }  // after the call returned

private:
    void serve() {
        const int c = ::accept(listen_, nullptr, nullptr);
        if (c < 0) return;
        char buf[256];
        const ssize_t n = ::recv(c, buf, sizeof buf, 0);
        if (n > 0) request_.assign(buf, size_t(n));
        if (!silent_) {
            size_t at = 0;
            while (at < reply_.size()) {
                const ssize_t w = ::send(c, reply_.data() + at, reply_.size() - at, MSG_NOSIGNAL);
                if (w <= 0) break;
                at += size_t(w);
            }
        } else {
            char more[16];
            while (::recv(c, more, sizeof more, 0) > 0) {}  // until the client gives up
        }
        ::close(c);
    }
    std::string reply_;
    bool silent_;
    std::string dir_, path_, request_;
    int listen_ = -1;
    bool ok_ = false;
    std::thread thread_;
};

std::string frame(uint32_t type, const std::string& payload, uint32_t claimed) {
    std::string s = "i3-ipc";
    s.append(reinterpret_cast<const char*>(&claimed), 4);
    s.append(reinterpret_cast<const char*>(&type), 4);
    return s + payload;
}

TEST(CompositorIpc, OneRequestInTheI3FramingAndItsReply) {
    const std::string tree = R"({"nodes": []})";
    FakeIpc ipc(frame(kIpcGetTree, tree, uint32_t(tree.size())));
    ASSERT_TRUE(ipc.ok());
    EXPECT_EQ(compositorRequest(ipc.path(), kIpcGetTree, {}), tree);
    // Magic, payload length 0 and the message type, each in the host's byte order.
    EXPECT_EQ(ipc.request(), frame(kIpcGetTree, "", 0));
}

TEST(CompositorIpc, MalformedOversizedShortOrSilentRepliesGiveNothing) {
    {
        FakeIpc ipc(frame(kIpcGetTree + 1, "{}", 2));  // the reply to another message
        EXPECT_EQ(compositorRequest(ipc.path(), kIpcGetTree, {}), std::nullopt);
    }
    {
        std::string bad = frame(kIpcGetTree, "{}", 2);
        bad[0] = 'X';
        FakeIpc ipc(bad);
        EXPECT_EQ(compositorRequest(ipc.path(), kIpcGetTree, {}), std::nullopt);
    }
    {
        FakeIpc ipc(frame(kIpcGetTree, "{}", 0xFFFFFFF0u));  // claims 4 GiB: never allocated
        EXPECT_EQ(compositorRequest(ipc.path(), kIpcGetTree, {}), std::nullopt);
    }
    {
        FakeIpc ipc(frame(kIpcGetTree, "{}", 200));  // fewer bytes than claimed, then closed
        EXPECT_EQ(compositorRequest(ipc.path(), kIpcGetTree, {}), std::nullopt);
    }
    {
        FakeIpc ipc("", true);  // takes the request, never answers: the bound ends the wait
        EXPECT_EQ(compositorRequest(ipc.path(), kIpcGetTree, {}, 200), std::nullopt);
    }
    EXPECT_EQ(compositorRequest("/nonexistent/ipc.sock", kIpcGetTree, {}), std::nullopt);
    EXPECT_EQ(compositorRequest("", kIpcGetTree, {}), std::nullopt);
    EXPECT_EQ(compositorRequest(std::string(200, 'x'), kIpcGetTree, {}), std::nullopt);  // too long a path
}

}  // namespace
