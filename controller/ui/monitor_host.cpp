// The monitor window on screen: painting the plug-in's picture, the window
// menu, the remembered position, and the host record the plug-in calls.
#include "controller/ui/monitor_host.h"

#include <QAction>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMetaObject>
#include <QMoveEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>

#include "controller/ui/program_icon.h"
#include "drivers/core/monitor_picture.h"

namespace tavik::controller::ui {

namespace {

int sizeCommandFor(int cellSize) {
    if (cellSize == drv::monitor::kSmallCell) return TAVIK_MONITOR_SMALL;
    if (cellSize == drv::monitor::kLargeCell) return TAVIK_MONITOR_LARGE;
    return TAVIK_MONITOR_MIDDLE;
}

}  // namespace

MonitorWidget::MonitorWidget(const TavikMonitorView& view, const QString& title, int savedX, int savedY, int cellSize,
                             bool keepOnTop, const Texts& texts)
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      view_(view) {
    setObjectName(QStringLiteral("MonitorWindow"));
    setWindowTitle(title);
    setWindowIcon(programIcon());
    moveSettled_.setSingleShot(true);
    moveSettled_.setInterval(kMoveSettleMs);
    connect(&moveSettled_, &QTimer::timeout, this, [this] { reportMove(); });
    setAttribute(Qt::WA_OpaquePaintEvent);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    setPalette(p);
    setAutoFillBackground(true);

    topAction_ = menu_.addAction(texts("menu_keep_on_top"));
    topAction_->setObjectName(QStringLiteral("257"));
    topAction_->setCheckable(true);
    topAction_->setChecked(keepOnTop);
    connect(topAction_, &QAction::triggered, this, [this] { applyKeepOnTop(); });
    QMenu* sizes = menu_.addMenu(texts("menu_window_size"));
    const char* labels[3] = {"small", "middle", "large"};
    for (int i = 0; i < 3; ++i) {
        QAction* a = sizes->addAction(texts(labels[i]));
        a->setObjectName(QString::number(TAVIK_MONITOR_SMALL + i));
        a->setCheckable(true);
        connect(a, &QAction::triggered, this, [this, i] { runCommand(TAVIK_MONITOR_SMALL + i); });
        sizeActions_[i] = a;
    }
    const int checked = sizeCommandFor(cellSize);
    for (int i = 0; i < 3; ++i) sizeActions_[i]->setChecked(TAVIK_MONITOR_SMALL + i == checked);

    if (keepOnTop) setWindowFlag(Qt::WindowStaysOnTopHint, true);
    fitToPicture(true, savedX, savedY);
    show();
    placed_ = true;
}

MonitorWidget::~MonitorWidget() { detach(); }

void MonitorWidget::reportMove() {
    moveSettled_.stop();
    if (!movePending_) return;
    movePending_ = false;
    if (view_.moved) view_.moved(view_.context, x(), y());
}

bool MonitorWidget::keepOnTop() const { return topAction_->isChecked(); }

int MonitorWidget::checkedSize() const {
    for (int i = 0; i < 3; ++i)
        if (sizeActions_[i]->isChecked()) return TAVIK_MONITOR_SMALL + i;
    return 0;
}

void MonitorWidget::fitToPicture(bool place, int x, int y) {
    int32_t w = 0, h = 0;
    if (view_.size) view_.size(view_.context, &w, &h);
    if (w <= 0 || h <= 0) return;
    setFixedSize(w, h);
    if (!place) return;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        x = area.x() + drv::monitor::clampPosition(x - area.x(), w, area.width());
        y = area.y() + drv::monitor::clampPosition(y - area.y(), h, area.height());
    }
    move(x, y);
}

void MonitorWidget::runCommand(int command) {
    if (command == TAVIK_MONITOR_KEEP_ON_TOP) {
        topAction_->trigger();  // flips the check, then applyKeepOnTop
        return;
    }
    if (command < TAVIK_MONITOR_SMALL || command > TAVIK_MONITOR_LARGE) return;
    for (int i = 0; i < 3; ++i) sizeActions_[i]->setChecked(TAVIK_MONITOR_SMALL + i == command);
    if (view_.command) view_.command(view_.context, command);
    fitToPicture(true, x(), y());
    update();
}

void MonitorWidget::applyKeepOnTop() {
    const bool visible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, topAction_->isChecked());
    if (visible) show();  // changing the flags hides a shown window
}

bool MonitorWidget::refreshImage() {
    int32_t w = 0, h = 0;
    if (view_.size) view_.size(view_.context, &w, &h);
    if (w <= 0 || h <= 0) return false;
    if (QSize(w, h) != size()) setFixedSize(w, h);  // the device's dot matrix changed
    if (image_.size() != QSize(w, h)) {
        image_ = QImage(w, h, QImage::Format_RGB32);
        image_.fill(Qt::black);
    }
    return view_.copy && view_.copy(view_.context, reinterpret_cast<uint32_t*>(image_.bits()), w, h,
                                    static_cast<int32_t>(image_.bytesPerLine() / 4)) == 1;
}

QImage MonitorWidget::picture() {
    refreshImage();
    return image_;
}

void MonitorWidget::paintEvent(QPaintEvent*) {
    refreshImage();
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    painter.drawImage(0, 0, image_);
}

void MonitorWidget::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (!placed_) return;
    movePending_ = true;
    moveSettled_.start();  // again at every step: the timer runs out once the window rests
}

void MonitorWidget::closeEvent(QCloseEvent* event) {
    if (!detached_) reportMove();
    if (!detached_ && view_.closed) view_.closed(view_.context);
    detached_ = true;
    event->accept();
}

void MonitorWidget::contextMenuEvent(QContextMenuEvent* event) { menu_.popup(event->globalPos()); }

MonitorHost::MonitorHost(const Texts& texts) : texts_(texts) {
    host_.context = this;
    host_.open = &MonitorHost::open;
    host_.invalidate = &MonitorHost::invalidate;
    host_.close = &MonitorHost::close;
}

MonitorHost::~MonitorHost() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (widget_) widget_->detach();
    widget_.reset();
}

intptr_t MonitorHost::open(void* context, const TavikMonitorView* view, const char* title, int32_t x, int32_t y,
                           int32_t cellSize, int32_t keepOnTop) {
    auto* self = static_cast<MonitorHost*>(context);
    if (!view) return 0;
    auto widget = std::make_unique<MonitorWidget>(*view, QString::fromUtf8(title ? title : ""), x, y, cellSize,
                                                  keepOnTop != 0, self->texts_);
    std::lock_guard<std::mutex> lock(self->mutex_);
    if (self->widget_) self->widget_->detach();  // one the user closed earlier
    self->widget_ = std::move(widget);
    self->id_ = self->nextId_++;
    return self->id_;
}

void MonitorHost::invalidate(void* context, intptr_t window) {
    auto* self = static_cast<MonitorHost*>(context);
    std::lock_guard<std::mutex> lock(self->mutex_);
    if (!self->widget_ || window != self->id_) return;
    QPointer<MonitorWidget> target(self->widget_.get());
    QMetaObject::invokeMethod(
        self->widget_.get(),
        [target] {
            if (target) target->update();
        },
        Qt::QueuedConnection);
}

void MonitorHost::close(void* context, intptr_t window) {
    auto* self = static_cast<MonitorHost*>(context);
    std::unique_ptr<MonitorWidget> gone;
    {
        std::lock_guard<std::mutex> lock(self->mutex_);
        if (!self->widget_ || window != self->id_) return;
        self->widget_->detach();
        gone = std::move(self->widget_);
        self->id_ = 0;
    }
}

}  // namespace tavik::controller::ui
