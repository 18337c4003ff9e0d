// Makes sure a QApplication serves the calling thread for the time of one
// question: the application's own one when it has one on this thread,
// otherwise one made for the question and removed after it.
#pragma once

#include <QApplication>

#include <optional>

namespace tavik::selection::ui {

class AppScope {
public:
    AppScope();
    AppScope(const AppScope&) = delete;
    AppScope& operator=(const AppScope&) = delete;

    // False when no widget can be shown from this thread: no display to
    // connect to, or the process's QApplication lives on another thread.
    bool usable() const { return usable_; }
    // True on a platform no person can see (offscreen, minimal).
    bool invisible() const;

private:
    std::optional<QApplication> own_;
    bool usable_ = false;
};

}  // namespace tavik::selection::ui
