// The connect dialog on Qt Widgets, and the flow around it: preselection
// from Lumo.ini, the scripted answer for tests and demos, writing back.
#include "screenviewer/ui/connect_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "client/selection/ui/ui_script.h"
#include "client/tavikutil.h"
#include "common/ini_store.h"
#include "common/settings.h"

namespace lumo::ui {

namespace {
QString tr2(bool ja, const char* en, const char* jaText) { return QString::fromUtf8(ja ? jaText : en); }
}  // namespace

ConnectDialog::ConnectDialog(bool japanese, int storedPort, int storedRow, QWidget* parent)
    : QDialog(parent), rows_(deviceRows(japanese)) {
    setObjectName("288");
    setWindowTitle(tr2(japanese, "Lumo, Connecting To:", "Lumo 接続先:"));
    ports_ = new QComboBox(this);
    ports_->setObjectName("289");
    for (int i = 1; i <= 64; ++i) ports_->addItem(QStringLiteral("Com%1").arg(i));
    ports_->setCurrentIndex(preselectedPort(storedPort));
    devices_ = new QComboBox(this);
    devices_->setObjectName("291");
    for (const DeviceRow& r : rows_) devices_->addItem(QString::fromUtf8(r.name));
    devices_->setCurrentIndex(preselectedRow(storedRow, rows_.size()));
    auto* usb = new QPushButton(tr2(japanese, "USB detection", "USB検出"), this);
    usb->setObjectName("290");
    connect(usb, &QPushButton::clicked, this, &ConnectDialog::detectUsb);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("1");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("2");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    // The form's labels are the lists' buddies: a screen reader speaks the label, then the item.
    auto* form = new QFormLayout;
    form->addRow(tr2(japanese, "Port:", "ポート:"), ports_);
    form->addRow(QString(), usb);
    form->addRow(tr2(japanese, "Device:", "機器:"), devices_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void ConnectDialog::detectUsb() {
    int port = -1;
    if (gdUsbPortDetection(static_cast<TavikWindow>(winId()), &port) == 1 && port >= 0 && port < 64)
        ports_->setCurrentIndex(port);
}

int ConnectDialog::portItem() const { return ports_->currentIndex(); }
int ConnectDialog::rowItem() const { return devices_->currentIndex(); }

Connection ConnectDialog::chosen() const {
    const int row = std::max(0, devices_->currentIndex());
    const DeviceRow& r = rows_[std::size_t(row) < rows_.size() ? std::size_t(row) : 0];
    return {std::max(0, ports_->currentIndex()), configForCode(r.code, r.name)};
}

std::optional<Connection> askConnection(bool japanese, const std::string& ini) {
    const int storedPort = tavik::profileGetInt("Connection", "Port", 0, ini);
    const int storedRow = tavik::profileGetInt("Connection", "Hardware", 0, ini);
    ConnectDialog dialog(japanese, storedPort, storedRow);
    if (tavik::selection::ui::scripted()) {
        // "connect|<port item>|<row item>|ok" (an empty item keeps the preselection).
        const auto line = tavik::selection::ui::takeScriptLine().value_or("cancel");
        std::vector<QString> parts;
        for (const QString& s : QString::fromStdString(line).split('|')) parts.push_back(s);
        bool ok = false;
        if (parts.size() >= 4 && parts[0] == "connect") {
            if (!parts[1].isEmpty()) dialog.findChild<QComboBox*>("289")->setCurrentIndex(parts[1].toInt());
            if (!parts[2].isEmpty()) dialog.findChild<QComboBox*>("291")->setCurrentIndex(parts[2].toInt());
            ok = parts[3] == "ok";
        }
        tavik::selection::ui::logShown("dialog 288 " + line);
        QTimer::singleShot(0, &dialog, [&dialog, ok] {
            if (ok) dialog.accept();
            else dialog.reject();
        });
    }
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    tavik::WriteProfileInt("Connection", "Port", dialog.portItem(), ini);
    tavik::WriteProfileInt("Connection", "Hardware", dialog.rowItem(), ini);
    return dialog.chosen();
}

}  // namespace lumo::ui
