// The pen dialog: pen mode status, the area along the diagonal, calibration.
#include "controller/ui/pen_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QVBoxLayout>

namespace tavik::controller::ui {

PenDialog::PenDialog(const Texts& texts, std::string iniPath, PenInput& pen,
                     std::function<std::pair<int, int>()> matrix, QWidget* parent)
    : QDialog(parent), texts_(texts), iniPath_(std::move(iniPath)), pen_(pen), matrix_(std::move(matrix)) {
    setObjectName(QStringLiteral("304"));
    setWindowTitle(texts("pen_title"));
    settings_ = readPenSettings(iniPath_);
    pen_.tracker().endAreaSetting();

    use_ = new QCheckBox(texts("pen_use"), this);
    use_->setObjectName(QStringLiteral("305"));
    use_->setChecked(settings_.use);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("257"));
    area_ = new QPushButton(texts("pen_fix_area"), this);
    area_->setObjectName(QStringLiteral("302"));
    auto field = [this](int id) {
        auto* f = new QLineEdit(this);
        f->setObjectName(QString::number(id));
        f->setReadOnly(true);
        return f;
    };
    top_ = field(308);
    left_ = field(309);
    right_ = field(310);
    bottom_ = field(311);

    connect(use_, &QCheckBox::toggled, this, [this](bool on) {
        if (on) pen_.start();
        updateStatus();
    });
    connect(area_, &QPushButton::clicked, this, &PenDialog::areaClicked);
    // The collected corners follow the pen while the diagonal is dragged.
    connect(&refresh_, &QTimer::timeout, this, &PenDialog::showArea);
    refresh_.start(100);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(texts("ok"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("1"));
    QPushButton* cancel = buttons->addButton(texts("cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("2"));
    connect(buttons, &QDialogButtonBox::accepted, this, &PenDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &PenDialog::reject);

    auto* form = new QFormLayout;
    form->addRow(texts("pen_top"), top_);
    form->addRow(texts("pen_left"), left_);
    form->addRow(texts("pen_right"), right_);
    form->addRow(texts("pen_bottom"), bottom_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(use_);
    layout->addWidget(status_);
    layout->addWidget(area_);
    layout->addLayout(form);
    layout->addWidget(buttons);
    updateStatus();
    showArea();
}

void PenDialog::updateStatus() {
    const bool on = pen_.on();
    status_->setText(texts_(on ? "pen_on" : (use_->isChecked() ? "pen_failed" : "pen_unused")));
    area_->setEnabled(on);
}

void PenDialog::showArea() {
    const PenTracker& t = pen_.tracker();
    const bool collecting = t.areaMode() == 2;
    top_->setText(QString::number(collecting ? t.collected().minY : settings_.top));
    left_->setText(QString::number(collecting ? t.collected().minX : settings_.left));
    right_->setText(QString::number(collecting ? t.collected().maxX : settings_.right));
    bottom_->setText(QString::number(collecting ? t.collected().maxY : settings_.bottom));
}

void PenDialog::areaClicked() {
    PenTracker& t = pen_.tracker();
    if (t.areaMode() == 0) {
        t.beginAreaSetting();
        area_->setText(texts_("pen_confirm_area"));
        status_->setText(texts_("pen_drag"));
    } else {
        const auto [w, h] = matrix_ ? matrix_() : std::pair<int, int>{0, 0};
        const bool set = t.areaMode() == 2 && t.calibrate(w, h, settings_);
        status_->setText(texts_(set ? "pen_area_set" : "pen_area_not_set"));
        area_->setText(texts_("pen_fix_area"));
        t.endAreaSetting();
    }
    showArea();
}

void PenDialog::finish() {
    pen_.tracker().endAreaSetting();
    if (!settings_.use && pen_.on()) pen_.stop();
}

void PenDialog::accept() {
    settings_.use = use_->isChecked();
    PenTracker& t = pen_.tracker();
    if (t.areaMode() == 2) {
        const auto [w, h] = matrix_ ? matrix_() : std::pair<int, int>{0, 0};
        t.calibrate(w, h, settings_);
    }
    writePenSettings(settings_, iniPath_);
    finish();
    QDialog::accept();
}

void PenDialog::reject() {
    settings_.use = readPenSettings(iniPath_).use;
    finish();
    QDialog::reject();
}

}  // namespace tavik::controller::ui
