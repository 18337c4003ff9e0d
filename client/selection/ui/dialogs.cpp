// The message boxes and the "Port selection" dialog of the client library on
// Qt 6 Widgets, and the function table the client library loads. Every
// control carries its id as objectName ("512" dialog, "513" port list, "516"
// device list, "1" OK, "2" Cancel, "6" Yes, "7" No).
#include <QAbstractButton>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <memory>
#include <string>

#include "client/selection/ui/app_scope.h"
#include "client/selection/ui/ui_script.h"
#include "client/selection/ui_bridge.h"
#include "common/export.h"

namespace tavik::selection::ui {

namespace {

QString id(int value) { return QString::number(value); }

// Makes `owner` (an X11 window of the application) the dialog's parent window,
// so that the dialog stays above it. The foreign window lives as long as the
// returned pointer.
std::unique_ptr<QWindow> attachOwner(QWidget& widget, unsigned long owner) {
    if (owner == 0 || QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
    std::unique_ptr<QWindow> parent(QWindow::fromWinId(static_cast<WId>(owner)));
    if (!parent) return nullptr;
    widget.winId();  // creates the native window
    if (QWindow* handle = widget.windowHandle()) handle->setTransientParent(parent.get());
    return parent;
}

int answerOf(const std::string& word) {
    if (word == "yes") return TAVIK_UI_ANSWER_YES;
    if (word == "no") return TAVIK_UI_ANSWER_NO;
    if (word == "ok") return TAVIK_UI_ANSWER_OK;
    if (word == "cancel") return TAVIK_UI_ANSWER_CANCEL;
    return 0;  // "close" and anything unknown close the window
}

std::vector<std::string> splitBars(const std::string& line) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const auto bar = line.find('|', start);
        parts.push_back(line.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos) return parts;
        start = bar + 1;
    }
}

// Clicks the button named `buttonId` when the window's loop runs, or closes
// the window when there is no such button.
void clickLater(QDialog& dialog, int buttonId) {
    QTimer::singleShot(0, &dialog, [&dialog, buttonId] {
        auto* button = buttonId ? dialog.findChild<QAbstractButton*>(id(buttonId)) : nullptr;
        if (button) button->click();
        else dialog.reject();
    });
}

int messageBox(const TavikUiMessage* m) {
    if (!m || !m->caption || !m->text) return TAVIK_UI_ANSWER_NONE;
    AppScope app;
    if (!app.usable()) return TAVIK_UI_ANSWER_NONE;
    // Nobody can answer an invisible box unless a script does.
    if (app.invisible() && !scripted()) return TAVIK_UI_ANSWER_NONE;

    const bool yesNo = m->buttons == TAVIK_UI_YES_NO_CANCEL;
    QMessageBox box(yesNo ? QMessageBox::Question : QMessageBox::Information, QString::fromUtf8(m->caption),
                    QString::fromUtf8(m->text),
                    yesNo ? (QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)
                          : (QMessageBox::Ok | QMessageBox::Cancel));
    const struct {
        QMessageBox::StandardButton button;
        int answer;
    } ids[] = {{QMessageBox::Yes, TAVIK_UI_ANSWER_YES},
               {QMessageBox::No, TAVIK_UI_ANSWER_NO},
               {QMessageBox::Ok, TAVIK_UI_ANSWER_OK},
               {QMessageBox::Cancel, TAVIK_UI_ANSWER_CANCEL}};
    for (const auto& b : ids)
        if (QAbstractButton* button = box.button(b.button)) button->setObjectName(id(b.answer));
    box.setEscapeButton(QMessageBox::Cancel);
    box.setDefaultButton(yesNo ? QMessageBox::Yes : QMessageBox::Ok);
    auto owner = attachOwner(box, m->owner);

    logShown(std::string("box|") + m->caption + "|" + m->text + "|" + (yesNo ? "yes-no-cancel" : "ok-cancel"));
    if (scripted()) clickLater(box, answerOf(takeScriptLine().value_or("close")));
    box.exec();
    const QAbstractButton* clicked = box.clickedButton();
    if (!clicked) return TAVIK_UI_ANSWER_CANCEL;
    bool ok = false;
    const int answer = clicked->objectName().toInt(&ok);
    return ok ? answer : TAVIK_UI_ANSWER_CANCEL;
}

void fillList(QComboBox& list, int listId, const char* const* items, int count, int selected) {
    list.setObjectName(id(listId));
    for (int i = 0; i < count; ++i) list.addItem(QString::fromUtf8(items[i] ? items[i] : ""));
    list.setCurrentIndex(selected >= 0 && selected < count ? selected : -1);
}

// The dialog's widgets; members are destroyed children first.
struct PortDialogWidgets {
    QDialog dialog;
    QVBoxLayout layout{&dialog};
    QFormLayout form;
    QComboBox ports{&dialog};
    QComboBox devices{&dialog};
    QDialogButtonBox buttons{&dialog};
};

std::string joined(const char* const* items, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) {
        if (i) out += ';';
        out += items[i] ? items[i] : "";
    }
    return out;
}

// Applies a "dialog|port|device|button" script line once the dialog runs.
void scriptDialog(QDialog& dialog, const std::string& line) {
    const auto parts = splitBars(line);
    if (parts.size() != 4 || parts[0] != "dialog") {
        clickLater(dialog, 0);
        return;
    }
    QTimer::singleShot(0, &dialog, [&dialog, parts] {
        const int listIds[] = {TAVIK_UI_PORT_LIST_ID, TAVIK_UI_DEVICE_LIST_ID};
        for (int k = 0; k < 2; ++k) {
            const std::string& item = parts[static_cast<std::size_t>(k) + 1];
            auto* list = dialog.findChild<QComboBox*>(id(listIds[k]));
            if (!list || item.empty()) continue;
            const int row = list->findText(QString::fromStdString(item));
            if (row >= 0) list->setCurrentIndex(row);
        }
        clickLater(dialog, answerOf(parts[3]));
    });
}

int portDialog(TavikUiPortDialog* d) {
    if (!d || d->portCount < 0 || d->deviceCount < 0 || (d->portCount && !d->ports) ||
        (d->deviceCount && !d->devices))
        return 0;
    AppScope app;
    if (!app.usable() || (app.invisible() && !scripted())) return 0;

    PortDialogWidgets w;
    QDialog& dialog = w.dialog;
    dialog.setObjectName(id(TAVIK_UI_PORT_DIALOG_ID));
    dialog.setWindowTitle(QString::fromUtf8(d->title ? d->title : ""));
    w.layout.addLayout(&w.form);
    fillList(w.ports, TAVIK_UI_PORT_LIST_ID, d->ports, d->portCount, d->selectedPort);
    fillList(w.devices, TAVIK_UI_DEVICE_LIST_ID, d->devices, d->deviceCount, d->selectedDevice);
    w.form.addRow(QString::fromUtf8(d->portLabel ? d->portLabel : ""), &w.ports);
    w.form.addRow(QString::fromUtf8(d->deviceLabel ? d->deviceLabel : ""), &w.devices);
    QComboBox* ports = &w.ports;
    QComboBox* devices = &w.devices;
    QPushButton* ok = w.buttons.addButton(QString::fromUtf8(d->okText ? d->okText : "OK"), QDialogButtonBox::AcceptRole);
    QPushButton* cancel =
        w.buttons.addButton(QString::fromUtf8(d->cancelText ? d->cancelText : "Cancel"), QDialogButtonBox::RejectRole);
    ok->setObjectName(id(TAVIK_UI_OK_ID));
    cancel->setObjectName(id(TAVIK_UI_CANCEL_ID));
    ok->setDefault(true);
    QObject::connect(&w.buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(&w.buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    w.layout.addWidget(&w.buttons);
    auto owner = attachOwner(dialog, d->owner);

    logShown(std::string("dialog|") + (d->title ? d->title : "") + "|port=" + ports->currentText().toStdString() +
             "|device=" + devices->currentText().toStdString() + "|devices=" + joined(d->devices, d->deviceCount));
    if (scripted()) scriptDialog(dialog, takeScriptLine().value_or("close"));
    if (dialog.exec() != QDialog::Accepted) return 0;
    // A list without a selection keeps the caller's value.
    if (ports->currentIndex() >= 0) d->selectedPort = ports->currentIndex();
    if (devices->currentIndex() >= 0) d->selectedDevice = devices->currentIndex();
    return 1;
}

const TavikUiTable kTable{TAVIK_UI_TABLE_VERSION, sizeof(TavikUiTable), &messageBox, &portDialog};

}  // namespace

}  // namespace tavik::selection::ui

TAVIK_API const TavikUiTable* tavikSelectionUi(void) { return &tavik::selection::ui::kTable; }
