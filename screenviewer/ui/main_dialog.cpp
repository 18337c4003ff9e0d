// The main dialog: its controls, the closing paths and the timer.
#include "screenviewer/ui/main_dialog.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

#include "client/selection/ui/ui_script.h"
#include "screenviewer/key_handling.h"
#include "screenviewer/ui/autostart.h"
#include "screenviewer/ui/function_filter_menu.h"

namespace lumo::ui {

namespace {
QString t(bool ja, const char* en, const char* jaText) { return QString::fromUtf8(ja ? jaText : en); }
}  // namespace

MainDialog::MainDialog(Viewer& viewer, bool ja, std::string ini, std::function<void()> startCommand, QWidget* parent)
    : QDialog(parent), viewer_(viewer), japanese_(ja), ini_(std::move(ini)), startCommand_(std::move(startCommand)),
      store_(ini_) {
    setObjectName("256");
    programPath_ = QCoreApplication::applicationFilePath().toStdString();
    // Every control: its id as object name, its command on activation.
    auto make = [this](QAbstractButton* w, int id) {
        w->setObjectName(QString::number(id));
        connect(w, &QAbstractButton::clicked, this, [this, id] { runCommand(id); });
        return w;
    };
    auto* range = new QGroupBox(t(ja, "Display range:", "表示範囲:"), this);
    auto* rangeLayout = new QVBoxLayout(range);
    rangeLayout->addWidget(make(new QRadioButton(t(ja, "Application window", "アプリケーションウィンドウ"), range), 257));
    rangeLayout->addWidget(make(new QRadioButton(t(ja, "FullScreen", "全画面"), range), 258));

    auto* modes = new QGroupBox(t(ja, "Viewing mode:", "表示モード:"), this);
    auto* modesLayout = new QVBoxLayout(modes);
    modesLayout->addWidget(make(new QCheckBox("Focus-Sync", modes), 264));
    modesLayout->addWidget(make(new QCheckBox("Mouse-Sync", modes), 265));
    modesLayout->addWidget(make(new QCheckBox(t(ja, "Overview mode", "全体表示"), modes), 266));
    modesLayout->addWidget(make(new QCheckBox("ViewScope", modes), 267));
    modesLayout->addWidget(make(new QCheckBox(t(ja, "Mouse emulation", "マウスエミュレーション"), modes), 272));
    auto* position = new QLabel(modes);
    position->setObjectName("273");
    position->setAccessibleName(t(ja, "Mouse position", "マウス位置"));
    modesLayout->addWidget(position);

    auto* rate = new QGroupBox(t(ja, "Refresh rate:", "更新間隔:"), this);
    auto* rateLayout = new QHBoxLayout(rate);
    // The radio buttons are one group (arrow keys move in it) whose check the program sets.
    auto* rateGroup = new QButtonGroup(this);
    const char* rateNames[4] = {"None", "0.1sec", "0.2sec", "0.5sec"};
    for (int i = 0; i < 4; ++i) {
        auto* b = make(new QRadioButton(t(ja, rateNames[i], i == 0 ? "なし" : rateNames[i]), rate), 268 + i);
        b->setAccessibleDescription(rate->title());
        rateGroup->addButton(b, i);
        rateLayout->addWidget(b);
    }
    auto* hide = new QPushButton(t(ja, "Hide", "隠す"), this);
    make(hide, 282);
    auto* exitButton = make(new QPushButton(t(ja, "Exit", "終了"), this), 281);
    hide->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(hide);
    buttons->addWidget(exitButton);
    auto* layout = new QVBoxLayout(this);
    QMenuBar* bar = makeFilterMenu(*this, ja, [this](int id) { runCommand(id); });
    layout->setMenuBar(bar);
    for (QWidget* w : {static_cast<QWidget*>(range), static_cast<QWidget*>(modes), static_cast<QWidget*>(rate)})
        layout->addWidget(w);
    layout->addLayout(buttons);

    // The system menu's own items after the filters: autostart, then Close.
    if (auto* system = bar->findChild<QMenu*>("system")) {
        system->addSeparator();
        QAction* autostart = system->addAction(t(ja, "Start with the Desktop", "デスクトップと同時に起動"));
        autostart->setObjectName("autostart");
        autostart->setCheckable(true);
        autostart->setChecked(autostartEnabled());
        connect(autostart, &QAction::triggered, this, [this] { toggleAutostart(); });
        QAction* close = system->addAction(t(ja, "Close", "閉じる"));
        close->setObjectName(QString::number(kSysClose));
        connect(close, &QAction::triggered, this, [this] { runCommand(kSysClose); });
    }

    loadSettings();

    // Called from the watch thread too, and possibly after this dialog is gone: the
    // boxes are synchronised on the application's thread, only while the dialog lives.
    viewer_.onModesChanged = [self = QPointer<MainDialog>(this)] {
        QMetaObject::invokeMethod(
            qApp, [self] { if (self) self->syncBoxes(); }, Qt::QueuedConnection);
    };
    syncBoxes();
    setHotKeyTitle(false);

    timer_ = new QTimer(this);
    timer_->setObjectName("timer1");
    connect(timer_, &QTimer::timeout, this, [this] { viewer_.onTimerTick(startCommand_); });
    timer_->start(100);
}

QAbstractButton* MainDialog::button(int id) const { return findChild<QAbstractButton*>(QString::number(id)); }

void MainDialog::syncBoxes() {
    const ScanningMode m = viewer_.scanningMode();
    button(257)->setChecked(m != ScanningMode::FullScreen);
    button(258)->setChecked(m == ScanningMode::FullScreen);
    button(264)->setChecked(m == ScanningMode::FocusSync);
    button(265)->setChecked(viewer_.mouseSync());
    const ViewRecord r = viewer_.currentView();
    button(266)->setChecked(r.overview != 0);
    button(267)->setChecked(r.overview != 0 && r.viewScope != 0);
    button(268 + viewer_.refreshChoice())->setChecked(true);
    if (keys_) button(272)->setChecked(keys_->emulating());
}

void MainDialog::setHotKeyTitle(bool hotKey) {
    setWindowTitle(hotKey ? t(japanese_, "Lumo Ver 4.2.0 (Hotkey=Win+Alt+V)", "Lumo Ver 4.2.0 (ホットキー=Win+Alt+V)")
                          : QStringLiteral("Lumo Ver 4.2.0"));
    button(282)->setEnabled(hotKey);
}

void MainDialog::bringForward() {
    tavik::selection::ui::logShown("dialog 256 forward");
    showNormal();
    raise();
    activateWindow();
}

void MainDialog::toggleAutostart() {
    auto* item = findChild<QAction*>("autostart");
    setAutostart(!autostartEnabled(), programPath_);
    // The mark shows what is on disk, also when writing failed.
    if (item) item->setChecked(autostartEnabled());
}

void MainDialog::finish(SaveMoment when, int result) {
    if (finished_) return;
    finished_ = true;
    saveSettings(when);
    timer_->stop();
    done(result);
}

void MainDialog::endSession() { finish(SaveMoment::EndSession, 1); }

void MainDialog::saveUnlessEnded() {
    if (finished_) return;
    finished_ = true;
    saveSettings(SaveMoment::EndSession);
}

void MainDialog::closeEvent(QCloseEvent* e) {
    finish(SaveMoment::Close, 0);
    e->accept();
}

void MainDialog::keyPressEvent(QKeyEvent* e) {
    const int key = e->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) &&
        (e->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        runCommand(1);
        e->accept();
        return;
    }
    if (key == Qt::Key_Escape) {
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

}  // namespace lumo::ui
