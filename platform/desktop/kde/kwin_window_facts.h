// KWin's window facts (kwin_facts.h) as the desktop layer's window-facts interface: the windows
// on the screen (minimized ones left out) bottom of the stack first, and KWin's own change signal.
#pragma once

#include <memory>

#include "platform/desktop/kde/kwin_facts.h"
#include "platform/desktop/window_facts.h"

namespace tavik::desktop::kde {

class KWinWindowFacts final : public WindowFacts {
public:
    // The facts of the session's KWin; nullptr when there is none (see KWinFacts::open).
    static std::unique_ptr<WindowFacts> open();
    explicit KWinWindowFacts(std::shared_ptr<KWinFacts> facts) : facts_(std::move(facts)) {}

    std::string_view source() const override { return "KWin script"; }
    // Answers from the latest report at once (never waits for KWin).
    std::optional<std::vector<WindowFact>> windows() override;
    std::unique_ptr<FactsWatch> watch(std::function<void()> changed) override;

private:
    std::shared_ptr<KWinFacts> facts_;
};

// A report as window facts: minimized windows left out, the active one focused.
std::vector<WindowFact> factsOf(const KWinReport& report);

}  // namespace tavik::desktop::kde
