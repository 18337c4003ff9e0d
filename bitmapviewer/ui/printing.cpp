// Page setup and printing of the bitmap viewer: the print dialog (a PDF file
// when no printer is set up), then the picture (preview or colour) stretched
// to the top-left margin corner, scaled by one factor to fit the printable
// area, with a modeless "Printing ..." box whose Cancel aborts.
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QVBoxLayout>

#include "bitmapviewer/ui/main_window.h"
#include "bitmapviewer/ui/print_page.h"

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
    // No printer set up: say so, and offer the page as a PDF file beside the picture.
    if (QPrinterInfo::availablePrinters().isEmpty()) {
        QMessageBox::information(this, texts_["app"], texts_["noPrinter"]);
        if (printer.outputFileName().isEmpty()) {
            const QString picture = QString::fromStdString(core_->path());
            const QFileInfo info(picture);
            printer.setOutputFileName(info.absoluteDir().filePath(info.completeBaseName() + QStringLiteral(".pdf")));
        }
    }
    // The printer, the copies and a file to print to are the user's choice.
    QPrintDialog chooser(&printer, this);
    chooser.setOption(QAbstractPrintDialog::PrintToFile, true);
    if (chooser.exec() != QDialog::Accepted) return;
    // The page is printed from a copy taken now: the repaints that run while the
    // box is up may rebuild the preview and drop the bitmap this came from.
    const Picture pic = core_->picture();
    if (!pic) return;
    const QImage image = toImage(*pic);
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

    const PrintStep step = printImage(printer, image, [&] {
        QCoreApplication::processEvents();
        return !aborted;
    });
    box.hide();
    setEnabled(true);
    if (step == PrintStep::Done || aborted) return;
    static constexpr const char* kMessage[] = {"", "startDoc", "startPage", "stretchFailed", "endDoc"};
    QMessageBox::warning(this, texts_["errorCaption"], texts_[kMessage[static_cast<int>(step)]]);
}

}  // namespace bitora::ui
