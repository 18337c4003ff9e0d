// The controller's host for the plug-in's monitor window: a Qt window that
// paints the plug-in's picture, with the window-menu items Keep on Top and
// Window Size (Small, Middle, Large) as a context menu of the picture.
#pragma once

#include <QImage>
#include <QMenu>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <mutex>

#include "controller/ui/texts.h"
#include "drivers/core/monitor_host.h"

class QAction;

namespace tavik::controller::ui {

class MonitorWidget final : public QWidget {
    Q_OBJECT
public:
    // Shows the window at the saved position moved onto the screen.
    MonitorWidget(const TavikMonitorView& view, const QString& title, int savedX, int savedY, int cellSize,
                  bool keepOnTop, const Texts& texts);
    ~MonitorWidget() override;

    // Runs a window-menu command (257..260) as the menu does.
    void runCommand(int command);
    // The host destroys the window: a place not yet told goes to the plug-in
    // now, and then the plug-in is not told anything again.
    void detach() {
        if (!detached_) reportMove();
        detached_ = true;
    }

    bool keepOnTop() const;
    int checkedSize() const;  // the checked size command, 258..260
    QMenu* windowMenu() { return &menu_; }
    // The picture as last painted (tests, screenshots).
    QImage picture();
    // How long the window must stay put before its place is remembered.
    static constexpr int kMoveSettleMs = 300;

protected:
    void paintEvent(QPaintEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // Takes the picture's size, resizes to it and, when `place`, moves the
    // window so that it stays on the screen.
    void fitToPicture(bool place, int x, int y);
    bool refreshImage();
    void applyKeepOnTop();

    TavikMonitorView view_;
    QImage image_;
    QMenu menu_;
    QAction* topAction_ = nullptr;
    QAction* sizeActions_[3] = {};
    // A move is told to the plug-in (which writes it to the settings) once
    // the window has stopped moving, not at every step of a drag.
    void reportMove();
    QTimer moveSettled_;
    bool movePending_ = false;
    bool detached_ = false;
    bool placed_ = false;
};

class MonitorHost {
public:
    explicit MonitorHost(const Texts& texts);
    ~MonitorHost();
    MonitorHost(const MonitorHost&) = delete;
    MonitorHost& operator=(const MonitorHost&) = delete;

    const TavikMonitorHost* host() const { return &host_; }
    // The open window, or null (main thread).
    MonitorWidget* window() const { return widget_.get(); }

private:
    static intptr_t open(void* context, const TavikMonitorView* view, const char* title, int32_t x, int32_t y,
                         int32_t cellSize, int32_t keepOnTop);
    static void invalidate(void* context, intptr_t window);
    static void close(void* context, intptr_t window);

    const Texts& texts_;
    TavikMonitorHost host_{};
    std::mutex mutex_;  // guards widget_ and id_ against invalidate from other threads
    std::unique_ptr<MonitorWidget> widget_;
    intptr_t id_ = 0;
    intptr_t nextId_ = 1;
};

}  // namespace tavik::controller::ui
