// The binarization condition dialog's window (see condition_dialog_window.h).
#include "client/ui/condition_dialog_window.h"

#include "common/ui/text_resource.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

#include <mutex>

#include "client/viewer/condition_ops.h"
#include "imaging/lumoutil.h"

namespace tavik::ui {

namespace {

using tavik::viewer::CondOp;

// The one open dialog of the process (the viewer has one dialog, as it is one viewer).
std::mutex gOpenMutex;
ConditionDialog* gOpen = nullptr;

struct Command {
    int id;
    CondOp op;
    int value;
};

constexpr Command kCommands[] = {
    {257, CondOp::ToggleColour, 0x10},  {258, CondOp::ToggleColour, 0x20},   {259, CondOp::ToggleColour, 0x40},
    {260, CondOp::MostFrequent, 0},     {262, CondOp::MoreFrequent, 0},      {261, CondOp::LessFrequent, 0},
    {273, CondOp::LowestLevel, 0},      {274, CondOp::ThresholdDown, 0},     {275, CondOp::ThresholdUp, 0},
    {4372, CondOp::HighestLevel, 0},    {290, CondOp::UpperDown, 0},         {291, CondOp::UpperUp, 0},
    {4388, CondOp::UpperTo255, 0},      {305, CondOp::LowerTo0, 0},          {306, CondOp::LowerDown, 0},
    {307, CondOp::LowerUp, 0},          {4405, CondOp::CollapseRange, 0},    {321, CondOp::ToggleComparison, 0x01},
    {322, CondOp::ToggleComparison, 0x02}, {323, CondOp::ToggleComparison, 0x04}, {324, CondOp::ToggleAuto, 0},
};

ConditionView viewOf(const BitmapViewerRecord& r) {
    ConditionView v;
    v.bMode = r.condition.bMode;
    v.fAutoThreshfold = r.condition.fAutoThreshfold;
    v.bThreshfold = r.condition.bThreshfold;
    v.bThreshfoldMin = r.condition.bThreshfoldMin;
    v.bThreshfoldMax = r.condition.bThreshfoldMax;
    return v;
}

}  // namespace

QHash<QString, QString> conditionDialogTexts(bool japanese) {
    return tavik::ui::loadTextResource(japanese ? QStringLiteral(":/tavik/condition_dialog_ja.txt")
                                                : QStringLiteral(":/tavik/condition_dialog_en.txt"));
}

ConditionDialog::ConditionDialog(const ConditionDialogServices& services, QWidget* parent)
    : QDialog(parent), services_(services), texts_(conditionDialogTexts(services.japanese != 0)) {
    setObjectName(QStringLiteral("256"));
    setWindowTitle(texts_.value("title"));
    setModal(true);

    auto* grid = new QGridLayout;
    auto* colours = new QHBoxLayout;
    colours->addWidget(check(257, texts_.value("red")));
    colours->addWidget(check(258, texts_.value("green")));
    colours->addWidget(check(259, texts_.value("blue")));
    colours->addStretch();

    int row = 0;
    grid->addWidget(new QLabel(texts_.value("threshold")), row, 0);
    grid->addWidget(value(272), row, 1);
    grid->addWidget(button(260, texts_.value("top")), row, 2);
    grid->addWidget(button(262, texts_.value("more")), row, 3);
    grid->addWidget(button(261, texts_.value("less")), row, 4);
    ++row;
    grid->addWidget(button(273, texts_.value("min")), row, 2);
    grid->addWidget(button(274, texts_.value("minus")), row, 3);
    grid->addWidget(button(275, texts_.value("plus")), row, 4);
    grid->addWidget(button(4372, texts_.value("max")), row, 5);
    ++row;
    grid->addWidget(new QLabel(texts_.value("upper")), row, 0);
    grid->addWidget(value(288), row, 1);
    grid->addWidget(button(290, texts_.value("minus")), row, 3);
    grid->addWidget(button(291, texts_.value("plus")), row, 4);
    grid->addWidget(button(4388, texts_.value("upper255")), row, 5);
    ++row;
    grid->addWidget(new QLabel(texts_.value("lower")), row, 0);
    grid->addWidget(value(304), row, 1);
    grid->addWidget(button(305, texts_.value("lower0")), row, 2);
    grid->addWidget(button(306, texts_.value("minus")), row, 3);
    grid->addWidget(button(307, texts_.value("plus")), row, 4);
    grid->addWidget(button(4405, texts_.value("clear")), row, 5);

    auto* comparisons = new QHBoxLayout;
    comparisons->addWidget(check(321, texts_.value("light")));
    comparisons->addWidget(check(322, texts_.value("equal")));
    comparisons->addWidget(check(323, texts_.value("dark")));
    comparisons->addSpacing(12);
    comparisons->addWidget(check(324, texts_.value("auto")));
    comparisons->addStretch();

    auto* ok = new QPushButton(texts_.value("ok"));
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, [this] {
        if (updating_) return;
        if (services_.refreshView) services_.refreshView();
        accept();
    });
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(ok);

    auto* outer = new QVBoxLayout(this);
    outer->addLayout(colours);
    outer->addLayout(grid);
    outer->addLayout(comparisons);
    outer->addLayout(bottom);
}

ConditionDialog::~ConditionDialog() {
    std::lock_guard lock(gOpenMutex);
    if (gOpen == this) gOpen = nullptr;
}

void ConditionDialog::nameForScreenReader(QWidget* w, int id) const {
    // The short face texts ("-", "+", "R") repeat or say little: "name_<id>" is what is spoken.
    const QString name = texts_.value(QStringLiteral("name_%1").arg(id));
    if (!name.isEmpty()) w->setAccessibleName(name);
}

QCheckBox* ConditionDialog::check(int id, const QString& text) {
    auto* box = new QCheckBox(text);
    box->setObjectName(QString::number(id));
    nameForScreenReader(box, id);
    connect(box, &QCheckBox::clicked, this, [this, id] { command(id); });
    return box;
}

QWidget* ConditionDialog::button(int id, const QString& text) {
    auto* b = new QPushButton(text);
    b->setObjectName(QString::number(id));
    nameForScreenReader(b, id);
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this, [this, id] { command(id); });
    return b;
}

QLabel* ConditionDialog::value(int id) {
    auto* label = new QLabel;
    label->setObjectName(QString::number(id));
    nameForScreenReader(label, id);
    label->setMinimumWidth(label->fontMetrics().horizontalAdvance(QStringLiteral("0000")));
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

void ConditionDialog::command(int id) {
    if (updating_ || !services_.operate) return;
    for (const Command& c : kCommands) {
        if (c.id != id) continue;
        // An operation that changes nothing does not refresh: undo the check box's own toggle.
        if (!services_.operate(static_cast<int>(c.op), 0, c.value)) {
            if (auto* box = qobject_cast<QCheckBox*>(sender())) {
                updating_ = true;
                box->setChecked(!box->isChecked());
                updating_ = false;
            }
        }
        return;
    }
}

void ConditionDialog::showCondition(const ConditionView& v) {
    updating_ = true;
    auto setCheck = [this](int id, bool on) {
        if (auto* box = findChild<QCheckBox*>(QString::number(id))) box->setChecked(on);
    };
    auto setText = [this](int id, const QString& text) {
        if (auto* label = findChild<QLabel*>(QString::number(id))) label->setText(text);
    };
    setCheck(257, v.bMode & BIN_RED);
    setCheck(258, v.bMode & BIN_GREEN);
    setCheck(259, v.bMode & BIN_BLUE);
    setText(272, QString::number(v.bThreshfold));
    const bool range = v.bMode & BIN_RANGE;
    setText(288, range ? QString::number(v.bThreshfoldMax) : QStringLiteral("="));
    setText(304, range ? QString::number(v.bThreshfoldMin) : QStringLiteral("="));
    setCheck(321, v.bMode & BIN_LIGHT);
    setCheck(322, v.bMode & BIN_EQUAL);
    setCheck(323, v.bMode & BIN_DARK);
    setCheck(324, v.fAutoThreshfold != 0);
    updating_ = false;
}

int ConditionDialog::run() {
    {
        std::lock_guard lock(gOpenMutex);
        gOpen = this;
    }
    if (services_.setHooks) services_.setHooks(&ConditionDialog::refreshHook, &ConditionDialog::closeHook);
    if (services_.requestRefresh) services_.requestRefresh();
    const int result = exec() == QDialog::Accepted ? 1 : 0;
    if (services_.setHooks) services_.setHooks(nullptr, nullptr);
    std::lock_guard lock(gOpenMutex);
    gOpen = nullptr;
    return result;
}

void ConditionDialog::refreshHook(BitmapViewerRecord* record) {
    if (!record) return;
    const ConditionView v = viewOf(*record);  // read now: the record moves on
    std::lock_guard lock(gOpenMutex);
    ConditionDialog* dialog = gOpen;
    if (!dialog) return;
    if (QThread::currentThread() == dialog->thread()) {
        dialog->showCondition(v);
    } else {
        // Device keys run on the library's thread: the controls change on the dialog's own.
        QMetaObject::invokeMethod(dialog, [dialog, v] { dialog->showCondition(v); }, Qt::QueuedConnection);
    }
}

void ConditionDialog::closeHook() {
    std::lock_guard lock(gOpenMutex);
    ConditionDialog* dialog = gOpen;
    if (!dialog) return;
    if (QThread::currentThread() == dialog->thread()) {
        dialog->reject();
    } else {
        QMetaObject::invokeMethod(dialog, &QDialog::reject, Qt::QueuedConnection);
    }
}

}  // namespace tavik::ui
