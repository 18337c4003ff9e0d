// Page setup and printing of the bitmap viewer: the picture (preview or colour)
// stretched to the top-left margin corner, scaled by one factor to fit the
// printable area, with a modeless "Printing ..." box whose Cancel aborts.
#include <QCoreApplication>
#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QVBoxLayout>

#include "bitmapviewer/ui/main_window.h"

namespace bitora::ui {

namespace {

// The printer as page setup leaves it: the default printer, millimetres, margins on.
std::unique_ptr<QPrinter> defaultPrinter() {
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setFullPage(false);
    QPageLayout layout = printer->pageLayout();
    layout.setUnits(QPageLayout::Millimeter);
    printer->setPageLayout(layout);
    return printer;
}

}  // namespace

void MainWindow::pageSetupCommand() {
    if (!printer_) printer_ = defaultPrinter();
    QPageSetupDialog dialog(printer_.get(), this);
    dialog.exec();
}

void MainWindow::printCommand() {
    if (!core_ || !core_->fileOpen()) return;
    if (!printer_) printer_ = defaultPrinter();
    QPrinter& printer = *printer_;
    // No printer to print on: nothing but the screen, as a device named "Display" would be.
    if (printer.outputFormat() == QPrinter::NativeFormat && QPrinterInfo::availablePrinters().isEmpty()) {
        QMessageBox::warning(this, texts_["errorCaption"], texts_["noBitmapPrinter"]);
        return;
    }
    const LumoBitmap* pic = core_->picture();
    if (!pic) return;
    const QString docName = QString::fromStdString(core_->fileName());
    printer.setDocName(docName);

    // The modeless box; the main window waits disabled.
    QDialog box(this);
    box.setObjectName(QStringLiteral("256"));
    box.setWindowTitle(texts_["printing"]);
    auto* layout = new QVBoxLayout(&box);
    layout->addWidget(new QLabel(docName));
    auto* cancel = new QPushButton(texts_["cancel"]);
    cancel->setObjectName(QStringLiteral("2"));
    layout->addWidget(cancel);
    bool aborted = false;
    connect(cancel, &QPushButton::clicked, &box, [&] {
        aborted = true;
        printer.abort();
    });
    setEnabled(false);
    box.setEnabled(true);
    box.show();
    QCoreApplication::processEvents();

    auto fail = [&](const char* key) {
        box.hide();
        setEnabled(true);
        if (!aborted) QMessageBox::warning(this, texts_["errorCaption"], texts_[key]);
    };
    QPainter painter;
    if (!painter.begin(&printer)) return fail("startDoc");
    QCoreApplication::processEvents();
    if (aborted) {
        painter.end();
        return fail("startPage");
    }
    const QImage image = QImage(reinterpret_cast<const uchar*>(pic->lpPixels), pic->nWidth, pic->nHeight,
                                static_cast<qsizetype>(pic->nWidth) * 4, QImage::Format_RGB32)
                             .copy();
    // Printable area in printer pixels over the bitmap's size; the smaller factor both ways.
    const QRect area = printer.pageLayout().paintRectPixels(printer.resolution());
    const double fx = static_cast<double>(area.width()) / pic->nWidth;
    const double fy = static_cast<double>(area.height()) / pic->nHeight;
    const double f = std::min(fx, fy);
    if (f <= 0) {
        painter.end();
        return fail("stretchFailed");
    }
    painter.drawImage(QRectF(0, 0, pic->nWidth * f, pic->nHeight * f), image);
    if (!painter.end()) return fail("endDoc");
    box.hide();
    setEnabled(true);
}

}  // namespace bitora::ui
