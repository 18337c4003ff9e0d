// KWin's reports answering the desktop layer's window-facts interface.
#include "platform/desktop/kde/kwin_window_facts.h"

namespace tavik::desktop::kde {

namespace {
class Watch final : public FactsWatch {
public:
    Watch(std::shared_ptr<KWinFacts> facts, int token) : facts_(std::move(facts)), token_(token) {}
    ~Watch() override { facts_->stopChange(token_); }

private:
    std::shared_ptr<KWinFacts> facts_;
    int token_;
};
}  // namespace

std::vector<WindowFact> factsOf(const KWinReport& report) {
    std::vector<WindowFact> out;
    out.reserve(report.windows.size());
    for (const KWinWindow& w : report.windows) {
        if (w.minimized) continue;
        WindowFact f;
        f.id = static_cast<int64_t>(w.id);
        f.pid = w.pid;
        f.appId = w.appId;
        f.title = w.title;
        f.frame = w.frame;
        f.content = w.client;
        f.focused = w.id == report.active;
        out.push_back(std::move(f));
    }
    return out;
}

std::unique_ptr<WindowFacts> KWinWindowFacts::open() {
    std::shared_ptr<KWinFacts> facts = KWinFacts::open();
    if (!facts) return nullptr;
    return std::make_unique<KWinWindowFacts>(std::move(facts));
}

std::optional<std::vector<WindowFact>> KWinWindowFacts::windows() { return factsOf(facts_->snapshot()); }

std::unique_ptr<FactsWatch> KWinWindowFacts::watch(std::function<void()> changed) {
    return std::make_unique<Watch>(facts_, facts_->onChange(std::move(changed)));
}

}  // namespace tavik::desktop::kde
