// The bitmap viewer's main window: menus and accelerators, keys and mouse,
// painting of the picture with the red view rectangle, the 50 ms repaint
// timer, file dialogs, the property box, page setup and printing. The logic
// behind every command is BitoraCore's.
#pragma once

#include <QMainWindow>
#include <QPageLayout>
#include <QTimer>

#include <memory>

#include "bitmapviewer/bitora_core.h"
#include "bitmapviewer/ui/qt_picture_decoder.h"
#include "bitmapviewer/ui/texts.h"

class QAction;
class QPrinter;

namespace bitora::ui {

class Canvas;

class MainWindow : public QMainWindow, public WindowHost {
    Q_OBJECT
public:
    MainWindow(const Texts& texts, DeviceSize device);
    ~MainWindow() override;

    // Creates the view-control entry and the core; call once the window is shown.
    void attach(LumoCtrlEntry entry);
    BitoraCore* core() { return core_.get(); }
    // The long side scalable pictures (SVG) are rendered to from the next file on.
    void setSvgSize(int pixels) { decoder_ = QtPictureDecoder(pixels); }
    const Texts& texts() const { return texts_; }
    // Paints the window into a PNG file (diagnostics); false on failure.
    bool saveScreenshot(const QString& path);

    // WindowHost
    void reportFailure(Failure what, const std::string& path, const LoadProblem& why) override;
    void fitImage(int w, int h) override;
    void setFileTitle(const std::string& fileName) override;
    void requestRepaint() override;

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void buildMenus();
    QString reasonText(const LoadProblem& why) const;
    void updateMenus();
    void updateClientArea();
    QString chooseFile(const QString& title);
    void openCommand();
    void saveAsCommand();
    void propertyCommand();
    void pageSetupCommand();
    void printCommand();
    void conditionCommand();

    const Texts& texts_;
    DeviceSize device_;
    QtPictureDecoder decoder_;
    Canvas* canvas_ = nullptr;
    std::unique_ptr<BitoraCore> core_;
    std::unique_ptr<QPrinter> printer_;
    QTimer timer_;
    QHash<int, QAction*> actions_;
};

}  // namespace bitora::ui
