// The main dialog: its controls, the settings it loads and saves, the timer.
#include "screenviewer/ui/main_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

#include "client/selection/ui/ui_script.h"
#include "common/ini_store.h"
#include "common/settings.h"
#include "screenviewer/ui/function_filter_menu.h"

namespace lumo::ui {

namespace {
QString t(bool ja, const char* en, const char* jaText) { return QString::fromUtf8(ja ? jaText : en); }
}  // namespace

MainDialog::MainDialog(Viewer& viewer, bool ja, std::string ini, std::function<void()> startCommand, QWidget* parent)
    : QDialog(parent), viewer_(viewer), japanese_(ja), ini_(std::move(ini)), startCommand_(std::move(startCommand)),
      store_(ini_) {
    setObjectName("256");
    auto make = [this](auto* w, int id) {
        w->setObjectName(QString::number(id));
        return w;
    };
    auto* range = new QGroupBox(t(ja, "Display range:", "表示範囲:"), this);
    auto* rangeLayout = new QVBoxLayout(range);
    auto* app = make(new QRadioButton(t(ja, "Application window", "アプリケーションウィンドウ"), range), 257);
    auto* full = make(new QRadioButton(t(ja, "FullScreen", "全画面"), range), 258);
    rangeLayout->addWidget(app);
    rangeLayout->addWidget(full);

    auto* modes = new QGroupBox(t(ja, "Viewing mode:", "表示モード:"), this);
    auto* modesLayout = new QVBoxLayout(modes);
    auto* focus = make(new QCheckBox("Focus-Sync", modes), 264);
    auto* mouse = make(new QCheckBox("Mouse-Sync", modes), 265);
    auto* overview = make(new QCheckBox(t(ja, "Overview mode", "全体表示"), modes), 266);
    auto* scope = make(new QCheckBox("ViewScope", modes), 267);
    for (auto* w : {focus, mouse, overview, scope}) modesLayout->addWidget(w);
    auto* emulation = make(new QCheckBox(t(ja, "Mouse emulation", "マウスエミュレーション"), modes), 272);
    modesLayout->addWidget(emulation);
    modesLayout->addWidget(make(new QLabel(modes), 273));

    auto* rate = new QGroupBox(t(ja, "Refresh rate:", "更新間隔:"), this);
    auto* rateLayout = new QHBoxLayout(rate);
    auto* rateGroup = new QButtonGroup(this);
    const char* rateNames[4] = {"None", "0.1sec", "0.2sec", "0.5sec"};
    for (int i = 0; i < 4; ++i) {
        auto* b = make(new QRadioButton(t(ja, rateNames[i], i == 0 ? "なし" : rateNames[i]), rate), 268 + i);
        rateGroup->addButton(b, i);
        rateLayout->addWidget(b);
    }
    auto* hide = make(new QPushButton(t(ja, "Hide", "隠す"), this), 282);
    auto* exitButton = make(new QPushButton(t(ja, "Exit", "終了"), this), 281);
    hide->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(hide);
    buttons->addWidget(exitButton);
    auto* layout = new QVBoxLayout(this);
    layout->setMenuBar(makeFilterMenu(*this, ja, [this](int id) { runCommand(id); }));
    for (QWidget* w : {static_cast<QWidget*>(range), static_cast<QWidget*>(modes), static_cast<QWidget*>(rate)})
        layout->addWidget(w);
    layout->addLayout(buttons);

    loadSettings();

    connect(app, &QRadioButton::clicked, this, [this] { viewer_.applicationWindow(); });
    connect(full, &QRadioButton::clicked, this, [this] { viewer_.fullScreen(); });
    connect(focus, &QCheckBox::clicked, this, [this] { viewer_.toggleFocusSync(); });
    connect(mouse, &QCheckBox::clicked, this, [this] { viewer_.toggleMouseSync(); });
    connect(overview, &QCheckBox::clicked, this, [this] { viewer_.toggleOverview(); });
    connect(scope, &QCheckBox::clicked, this, [this] { viewer_.toggleViewScope(); });
    connect(rateGroup, &QButtonGroup::idClicked, this, [this](int id) { viewer_.setRefreshChoice(id); });
    connect(emulation, &QCheckBox::clicked, this, [this] { runCommand(272); });
    connect(hide, &QPushButton::clicked, this, &QWidget::hide);
    connect(exitButton, &QPushButton::clicked, this, [this] {
        saveSettings(SaveMoment::Exit);
        timer_->stop();
        done(QDialog::Accepted);
    });
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
    const ViewRecord& r = viewer_.current();
    button(266)->setChecked(r.overview != 0);
    button(267)->setChecked(r.overview != 0 && r.viewScope != 0);
    button(268 + viewer_.refreshChoice())->setChecked(true);
}

void MainDialog::setHotKeyTitle(bool hotKey) {
    setWindowTitle(hotKey ? t(japanese_, "Lumo Ver 4.2.0 (Hotkey=Win+V)", "Lumo Ver 4.2.0 (ホットキー=Win+V)")
                          : QStringLiteral("Lumo Ver 4.2.0"));
    button(282)->setEnabled(hotKey);
}

void MainDialog::bringForward() {
    tavik::selection::ui::logShown("dialog 256 forward");
    showNormal();
    raise();
    activateWindow();
}

void MainDialog::closeEvent(QCloseEvent* e) {
    saveSettings(SaveMoment::Close);
    timer_->stop();
    QDialog::closeEvent(e);
}

void MainDialog::reject() {
    saveSettings(SaveMoment::Close);
    timer_->stop();
    QDialog::reject();
}

}  // namespace lumo::ui
