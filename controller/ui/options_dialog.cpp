// The options dialog: filled from the settings, stored on OK.
#include "controller/ui/options_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace tavik::controller::ui {

OptionsDialog::OptionsDialog(const Texts& texts, std::string iniPath, PortDataMap* map, bool penAvailable,
                             std::function<void(const OptionsEffect&)> applied, QWidget* parent)
    : QDialog(parent), iniPath_(std::move(iniPath)), map_(map), applied_(std::move(applied)) {
    setObjectName(QStringLiteral("272"));
    setWindowTitle(texts("options_title"));
    const Options o = readOptions(iniPath_);

    queryAlways_ = new QCheckBox(texts("query_always"), this);
    queryAlways_->setObjectName(QStringLiteral("276"));
    queryAlways_->setChecked(o.queryConditionAlways);
    screenReader_ = new QCheckBox(texts("screen_reader_first"), this);
    screenReader_->setObjectName(QStringLiteral("273"));
    screenReader_->setChecked(o.screenReaderFirst);
    policy_ = new QComboBox(this);
    policy_->setObjectName(QStringLiteral("275"));
    policy_->addItems({texts("hide_always"), texts("allow_hide"), texts("show_always")});
    policy_->setCurrentIndex(o.policyEntry);
    size_ = new QComboBox(this);
    size_->setObjectName(QStringLiteral("277"));
    size_->addItems({texts("small"), texts("middle"), texts("large")});
    size_->setCurrentIndex(o.monitorSize);
    keepOnTop_ = new QCheckBox(texts("keep_on_top"), this);
    keepOnTop_->setObjectName(QStringLiteral("278"));
    keepOnTop_->setChecked(o.keepOnTop);

    auto* joystick = new QPushButton(texts("joystick"), this);
    joystick->setObjectName(QStringLiteral("279"));
    joystick->setEnabled(false);  // until a joystick dialog can be opened
    joystick_ = joystick;
    connect(joystick, &QPushButton::clicked, this, [this] {
        if (openJoystick_) openJoystick_();
    });
    auto* pen = new QPushButton(texts("pen"), this);
    pen->setObjectName(QStringLiteral("280"));
    pen->setEnabled(penAvailable);
    connect(pen, &QPushButton::clicked, this, [this] {
        if (openPen_) openPen_();
    });
    pen->setVisible(texts.japanese());

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(texts("ok"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    QPushButton* cancel = buttons->addButton(texts("cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("2"));
    connect(buttons, &QDialogButtonBox::accepted, this, &OptionsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &OptionsDialog::reject);

    auto* form = new QFormLayout;
    form->addRow(texts("window_policy"), policy_);
    form->addRow(texts("monitor_size"), size_);
    auto* extra = new QHBoxLayout;
    extra->addWidget(joystick);
    extra->addWidget(pen);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(queryAlways_);
    layout->addWidget(screenReader_);
    layout->addLayout(form);
    layout->addWidget(keepOnTop_);
    layout->addLayout(extra);
    layout->addWidget(buttons);
}

void OptionsDialog::setJoystickOpener(std::function<void()> open) {
    openJoystick_ = std::move(open);
    joystick_->setEnabled(static_cast<bool>(openJoystick_));
}

void OptionsDialog::accept() {
    Options o;
    o.queryConditionAlways = queryAlways_->isChecked();
    o.screenReaderFirst = screenReader_->isChecked();
    o.policyEntry = policy_->currentIndex();
    o.monitorSize = size_->currentIndex();
    o.keepOnTop = keepOnTop_->isChecked();
    const OptionsEffect effect = applyOptions(o, iniPath_, map_);
    if (applied_) applied_(effect);
    QDialog::accept();
}

}  // namespace tavik::controller::ui
