// The controller's main window and its buttons.
#include "controller/ui/main_window.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>
#include <QVBoxLayout>

#include "controller/controller.h"
#include "controller/options.h"
#include "controller/ui/options_dialog.h"
#include "controller/ui/program_icon.h"
#include "platform/atomic_word.h"

namespace tavik::controller::ui {

MainWindow::MainWindow(const Texts& texts, const std::string& iniPath)
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                           Qt::WindowMinimizeButtonHint),
      texts_(texts),
      iniPath_(iniPath),
      monitor_(texts) {
    setObjectName(QStringLiteral("256"));
    setWindowTitle(texts("title"));
    setWindowIcon(programIcon());
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("257"));
    status_->setMinimumWidth(320);
    connect_ = button(1, "connect");
    QPushButton* setup = button(258, "setup");
    hide_ = button(259, "hide");
    QPushButton* monitor = button(260, "monitor");
    hide_->setVisible(false);  // until the port's policy is known
    connect(connect_, &QPushButton::clicked, this, &MainWindow::connectClicked);
    connect(setup, &QPushButton::clicked, this, &MainWindow::setupClicked);
    connect(hide_, &QPushButton::clicked, this, &MainWindow::hideClicked);
    connect(monitor, &QPushButton::clicked, this, &MainWindow::monitorClicked);

    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {connect_, setup, hide_, monitor}) buttons->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(status_);
    layout->addLayout(buttons);
    confirm_ = [this] {
        return QMessageBox::question(this, texts_("confirm_title"), texts_("confirm_text"),
                                     QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::No);
    };
}

MainWindow::~MainWindow() = default;

QPushButton* MainWindow::button(int id, const char* textKey) {
    auto* b = new QPushButton(texts_(textKey), this);
    b->setObjectName(QString::number(id));
    b->setAutoDefault(false);
    return b;
}

void MainWindow::setStatusText(std::string_view utf8Line) {
    const QString text = QString::fromUtf8(utf8Line.data(), static_cast<qsizetype>(utf8Line.size()));
    if (QThread::currentThread() == thread()) {
        status_->setText(text);
        return;
    }
    // A plug-in thread: the label changes on the main thread.
    QPointer<QLabel> label(status_);
    QMetaObject::invokeMethod(
        status_,
        [label, text] {
            if (label) label->setText(text);
        },
        Qt::QueuedConnection);
}

void MainWindow::setConnectLabel(bool connected) { connect_->setText(texts_(connected ? "disconnect" : "connect")); }

void MainWindow::setHideButtonVisible(bool visible) { hide_->setVisible(visible); }

void MainWindow::setTitle(std::string_view utf8Title) {
    setWindowTitle(QString::fromUtf8(utf8Title.data(), static_cast<qsizetype>(utf8Title.size())));
}

void MainWindow::showMinimizedNoActivate() {
    setAttribute(Qt::WA_ShowWithoutActivating, true);
    QWidget::showMinimized();
    setAttribute(Qt::WA_ShowWithoutActivating, false);
}

void MainWindow::showNormal() {
    QWidget::showNormal();
    raise();
    activateWindow();
}

void MainWindow::hide() { QWidget::hide(); }

void MainWindow::connectClicked() {
    if (controller_) controller_->userConnectToggle();
}

void MainWindow::setupClicked() {
    if (options_) {
        options_->raise();
        options_->activateWindow();
        return;
    }
    PortDataMap* map = controller_ ? controller_->map() : nullptr;
    QPointer<MainWindow> self(this);
    auto* dialog = new OptionsDialog(texts_, iniPath_, map, penAvailable_,
                                     [self](const OptionsEffect& effect) {
                                         if (!self) return;
                                         self->setHideButtonVisible(effect.hideButtonVisible);
                                         if (effect.hideWindow) self->hide();
                                     },
                                     this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    if (joystickApply_) dialog->setJoystickOpener([self] {
        if (self) self->openJoystickDialog();
    });
    if (pen_ && penAvailable_) dialog->setPenOpener([self] {
        if (self) self->openPenDialog();
    });
    options_ = dialog;
    dialog->show();
}

void MainWindow::openJoystickDialog() {
    if (joystick_) {
        joystick_->raise();
        joystick_->activateWindow();
        return;
    }
    auto* dialog = new JoystickDialog(texts_, iniPath_, joystickActive_, joystickApply_, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    joystick_ = dialog;
    dialog->show();
}

void MainWindow::openPenDialog() {
    if (!pen_) return;
    if (penDialog_) {
        penDialog_->raise();
        penDialog_->activateWindow();
        return;
    }
    auto* dialog = new PenDialog(texts_, iniPath_, *pen_, penMatrix_, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    penDialog_ = dialog;
    dialog->show();
}

void MainWindow::hideClicked() {
    if (controller_)
        controller_->userHide();
    else
        hide();
}

void MainWindow::monitorClicked() {
    if (!controller_) return;
    const Options o = readOptions(iniPath_);
    PortDataMap* map = controller_->map();
    const int32_t port = map ? platform::loadWord(map->portIndex) : 0;
    if (controller_->openMonitorWindow(monitorTitle(isPortIndex(port) ? port : 0), monitorCellSize(o.monitorSize),
                                       o.keepOnTop) == 0)
        return;
    // Open already (perhaps minimised or behind other windows): to the front.
    if (MonitorWidget* w = monitor_.window(); w && !w->isHidden()) {
        if (w->isMinimized()) w->showNormal();
        w->raise();
        w->activateWindow();
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Only the user's Yes ends the program; the loop then shuts it down.
    event->ignore();
    if (!confirm_ || confirm_() != QMessageBox::Yes) return;
    if (controller_) controller_->requestQuit();
}

}  // namespace tavik::controller::ui
