// The joystick dialog: filled from the settings, stored and applied by 302 and OK.
#include "controller/ui/joystick_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace tavik::controller::ui {

JoystickDialog::JoystickDialog(const Texts& texts, std::string iniPath, std::function<bool()> active,
                               std::function<void(const JoystickSettings&)> apply, QWidget* parent)
    : QDialog(parent), texts_(texts), iniPath_(std::move(iniPath)), active_(std::move(active)),
      apply_(std::move(apply)) {
    setObjectName(QStringLiteral("288"));
    setWindowTitle(texts("joystick_title"));
    const JoystickSettings s = readJoystickSettings(iniPath_);

    use_ = new QCheckBox(texts("use_joystick"), this);
    use_->setObjectName(QStringLiteral("299"));
    use_->setChecked(s.use);
    channel_ = new QComboBox(this);
    channel_->setObjectName(QStringLiteral("300"));
    channel_->addItems({texts("channel0"), texts("channel1"), texts("channel2")});
    channel_->setCurrentIndex(s.channel);
    speed_ = new QComboBox(this);
    speed_->setObjectName(QStringLiteral("301"));
    for (int i = 0; i < 8; ++i) speed_->addItem(QStringLiteral("%1ms").arg(joystickIntervalMs(i)));
    speed_->setCurrentIndex(s.speed);

    const QStringList names = texts("actions").split(u'|');
    auto* grid = new QGridLayout;
    for (int b = 0; b < kJoystickButtons; ++b) {
        auto* list = new QComboBox(this);
        list->setObjectName(QString::number(289 + b));
        list->addItems(names);
        list->setCurrentIndex(s.actions[b]);
        auto* label = new QLabel(texts("button_n").arg(b + 1), this);
        label->setBuddy(list);  // a screen reader names the list by it
        grid->addWidget(label, b % 5, (b / 5) * 2);
        grid->addWidget(list, b % 5, (b / 5) * 2 + 1);
        actions_[b] = list;
    }

    connect_ = new QPushButton(this);
    connect_->setObjectName(QStringLiteral("302"));
    connect(connect_, &QPushButton::clicked, this, &JoystickDialog::applyNow);
    connect(use_, &QCheckBox::toggled, this, [this] { updateButtonLabel(); });
    updateButtonLabel();

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(texts("ok"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("1"));
    QPushButton* cancel = buttons->addButton(texts("cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("2"));
    connect(buttons, &QDialogButtonBox::accepted, this, &JoystickDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &JoystickDialog::reject);

    auto* form = new QFormLayout;
    form->addRow(texts("channel"), channel_);
    form->addRow(texts("speed"), speed_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(use_);
    layout->addLayout(form);
    layout->addLayout(grid);
    layout->addWidget(connect_);
    layout->addWidget(buttons);
}

JoystickSettings JoystickDialog::chosen() const {
    JoystickSettings s;
    s.use = use_->isChecked();
    s.channel = channel_->currentIndex();
    s.speed = speed_->currentIndex();
    for (int b = 0; b < kJoystickButtons; ++b) s.actions[b] = actions_[b]->currentIndex();
    return s;
}

void JoystickDialog::updateButtonLabel() {
    const bool on = active_ && active_();
    const char* key = use_->isChecked() ? (on ? "js_reconnect" : "js_connect") : (on ? "js_disconnect" : "js_update");
    connect_->setText(texts_(key));
}

void JoystickDialog::applyNow() {
    const JoystickSettings s = chosen();
    writeJoystickSettings(s, iniPath_);
    if (apply_) apply_(s);
    updateButtonLabel();
}

void JoystickDialog::accept() {
    applyNow();
    QDialog::accept();
}

void JoystickDialog::focusFor(int target) {
    if (target == 0)
        speed_->setFocus();
    else if (target >= 1 && target <= kJoystickButtons)
        actions_[target - 1]->setFocus();
}

}  // namespace tavik::controller::ui
