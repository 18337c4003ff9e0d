// The bitmap viewer's main window (see main_window.h); printing is in printing.cpp.
#include "bitmapviewer/ui/main_window.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPrinter>
#include <QScreen>
#include <QStyle>

#include <cstdio>

#include "client/ui/condition_dialog.h"

namespace bitora::ui {

// The client area: the picture stretched over it, the view rectangle on top.
class Canvas : public QWidget {
public:
    explicit Canvas(MainWindow& owner) : QWidget(&owner), owner_(owner) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setCursor(Qt::CrossCursor);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), Qt::black);
        BitoraCore* core = owner_.core();
        const Picture pic = core ? core->picture() : nullptr;
        if (!pic || pic->nWidth < 1 || pic->nHeight < 1) return;
        // The library's pixels are 0x00RRGGBB rows, top-down: a 32-bit RGB image as they are.
        const QImage image(reinterpret_cast<const uchar*>(pic->lpPixels), pic->nWidth, pic->nHeight,
                           static_cast<qsizetype>(pic->nWidth) * 4, QImage::Format_RGB32);
        p.setRenderHint(QPainter::SmoothPixmapTransform, false);
        p.drawImage(rect(), image);
        // The rectangle is drawn while the window is in front and the display runs.
        const auto view = core->viewRectangle();
        if (!view || !(owner_.isActiveWindow() || forceFront_)) return;
        const int iw = pic->nWidth, ih = pic->nHeight;
        const int l = imageToClient(view->left, width(), iw), t = imageToClient(view->top, height(), ih);
        const int r = imageToClient(view->right, width(), iw), b = imageToClient(view->bottom, height(), ih);
        p.setPen(QPen(Qt::red, 1));
        p.setBrush(Qt::NoBrush);
        p.drawRect(l, t, std::max(0, r - l - 1), std::max(0, b - t - 1));
        p.drawRect(l - 1, t - 1, std::max(0, r - l + 1), std::max(0, b - t + 1));
    }
    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton && owner_.core()) owner_.core()->pointAt(e->pos().x(), e->pos().y());
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        if (e->buttons() != Qt::NoButton && owner_.core()) owner_.core()->pointAt(e->pos().x(), e->pos().y());
    }

public:
    bool forceFront_ = false;  // a screenshot paints as the window in front does

private:
    MainWindow& owner_;
};

namespace {

QString format(const QString& pattern, const QString& a) {
    return QString::asprintf(pattern.toUtf8().constData(), a.toUtf8().constData());
}

}  // namespace

MainWindow::MainWindow(const Texts& texts, DeviceSize device) : texts_(texts), device_(device) {
    setObjectName(QStringLiteral("Bitora main window class"));
    setWindowTitle(QString::asprintf(texts_["titleStart"].toUtf8().constData(), texts_["app"].toUtf8().constData(),
                                     texts_["version"].toUtf8().constData()));
    canvas_ = new Canvas(*this);
    setCentralWidget(canvas_);
    setWindowIcon(QIcon(QStringLiteral(":/bitora/bitora.png")));
    buildMenus();
    move(0, 0);
    resize(100, 100);
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (core_ && core_->takeRefreshed()) canvas_->update();
    });
    timer_.start(50);
}

MainWindow::~MainWindow() = default;

void MainWindow::attach(LumoCtrlEntry entry) {
    core_ = std::make_unique<BitoraCore>(*this, device_, entry, static_cast<unsigned long>(winId()));
    core_->setPictureDecoder(&decoder_);
    updateClientArea();
}

void MainWindow::buildMenus() {
    auto add = [this](QMenu* menu, int id, const char* key, auto&& slot) {
        QAction* a = menu->addAction(texts_[key]);
        a->setObjectName(QString::number(id));
        connect(a, &QAction::triggered, this, slot);
        actions_.insert(id, a);
        return a;
    };
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("512"));
    QMenu* file = bar->addMenu(texts_["menuFile"]);
    add(file, 513, "open", [this] { openCommand(); })->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    add(file, 514, "saveAs", [this] { saveAsCommand(); })->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    add(file, 515, "property", [this] { propertyCommand(); });
    file->addSeparator();
    add(file, 516, "pageSetup", [this] { pageSetupCommand(); });
    add(file, 517, "print", [this] { printCommand(); });
    file->addSeparator();
    add(file, 528, "suspend", [this] {
        if (core_) core_->toggleSuspend();
    })->setCheckable(true);
    file->addSeparator();
    add(file, 527, "exit", [this] { close(); });

    QMenu* view = bar->addMenu(texts_["menuView"]);
    add(view, 529, "colorView", [this] { core_->colourView(); })->setCheckable(true);
    add(view, 530, "binaryView", [this] { core_->binaryView(); })->setCheckable(true);
    view->addSeparator();
    // Home and End belong to the keys of the window; the items name them only.
    add(view, 531, "zoomIn", [this] { core_->zoomIn(); });
    add(view, 532, "zoomOut", [this] { core_->zoomOut(); });
    add(view, 533, "overview", [this] { core_->toggleOverview(); })->setCheckable(true);

    QMenu* condition = bar->addMenu(texts_["menuCondition"]);
    add(condition, 534, "conditionSettings", [this] { conditionCommand(); });
    QMenu* effect = condition->addMenu(texts_["menuEffect"]);
    add(effect, 536, "effectNone", [this] { core_->setEffect(Effect::None); })->setCheckable(true);
    add(effect, 537, "effectGrid", [this] { core_->setEffect(Effect::EraseGrid); })->setCheckable(true);
    add(effect, 538, "effectOutline", [this] { core_->setEffect(Effect::Outline); })->setCheckable(true);
    add(effect, 539, "effectCharacter", [this] { core_->setEffect(Effect::Character); })->setCheckable(true);

    for (QMenu* m : {file, view, condition, effect}) connect(m, &QMenu::aboutToShow, this, [this] { updateMenus(); });
    updateMenus();
}

void MainWindow::updateMenus() {
    const MenuState s = core_ ? core_->menuState() : MenuState{};
    for (int id : {514, 529, 530, 531, 532, 533, 534, 536, 537, 538, 539}) actions_[id]->setEnabled(s.fileOpen);
    actions_[528]->setChecked(s.suspended);
    actions_[529]->setChecked(s.fileOpen && !s.binaryView);
    actions_[530]->setChecked(s.fileOpen && s.binaryView);
    actions_[533]->setChecked(s.overview);
    actions_[536]->setChecked(s.fileOpen && s.effect == Effect::None);
    actions_[537]->setChecked(s.fileOpen && s.effect == Effect::EraseGrid);
    actions_[538]->setChecked(s.fileOpen && s.effect == Effect::Outline);
    actions_[539]->setChecked(s.fileOpen && s.effect == Effect::Character);
}

void MainWindow::updateClientArea() {
    if (!core_) return;
    ClientArea a;
    a.width = canvas_->width();
    a.height = canvas_->height();
    const QPoint inside = canvas_->mapTo(this, QPoint(0, 0));
    a.offsetX = inside.x();
    a.offsetY = inside.y();
    core_->setClientArea(a);
}

void MainWindow::resizeEvent(QResizeEvent* e) {
    QMainWindow::resizeEvent(e);
    updateClientArea();
    canvas_->update();
}

void MainWindow::moveEvent(QMoveEvent* e) {
    QMainWindow::moveEvent(e);
    updateClientArea();
}

void MainWindow::changeEvent(QEvent* e) {
    QMainWindow::changeEvent(e);
    // The view rectangle shows only while the window is in front: coming to
    // the front or leaving it repaints the picture.
    if (e->type() == QEvent::ActivationChange && canvas_) canvas_->update();
}

void MainWindow::keyPressEvent(QKeyEvent* e) {
    if (!core_ || !core_->fileOpen()) return QMainWindow::keyPressEvent(e);
    const bool ctrl = e->modifiers() & Qt::ControlModifier;
    const bool keypad = e->modifiers() & Qt::KeypadModifier;
    std::optional<Key> k;
    switch (e->key()) {
        case Qt::Key_PageUp: k = Key::PageUp; break;
        case Qt::Key_PageDown: k = Key::PageDown; break;
        case Qt::Key_Home: k = Key::Home; break;
        case Qt::Key_End: k = Key::End; break;
        case Qt::Key_Left: k = Key::Left; break;
        case Qt::Key_Up: k = Key::Up; break;
        case Qt::Key_Right: k = Key::Right; break;
        case Qt::Key_Down: k = Key::Down; break;
        default: break;
    }
    if (keypad && !ctrl) {
        static constexpr Key kPad[10] = {Key::Pad1, Key::Pad1, Key::Pad2, Key::Pad3, Key::Pad4,
                                         Key::Pad4, Key::Pad6, Key::Pad7, Key::Pad8, Key::Pad9};
        const int digit = e->key() - Qt::Key_0;
        if (digit >= 1 && digit <= 9 && digit != 5) k = kPad[digit];
    }
    if (!k) return QMainWindow::keyPressEvent(e);
    core_->key(*k, ctrl);
}

void MainWindow::closeEvent(QCloseEvent* e) {
    if (core_) core_->closeFile();
    e->accept();
}

// ---- WindowHost ----

QString MainWindow::reasonText(const LoadProblem& why) const {
    const char* key = nullptr;
    switch (why.reason) {
        case LoadProblem::Reason::None: return {};
        case LoadProblem::Reason::NotFound: key = "reasonNotFound"; break;
        case LoadProblem::Reason::NoAccess: key = "reasonNoAccess"; break;
        case LoadProblem::Reason::NotAFile: key = "reasonNotAFile"; break;
        case LoadProblem::Reason::BadBmp: key = "reasonBadBmp"; break;
        case LoadProblem::Reason::Unsupported: key = "reasonUnsupported"; break;
        case LoadProblem::Reason::Undecodable: key = "reasonUndecodable"; break;
        case LoadProblem::Reason::TooLarge: key = "reasonTooLarge"; break;
    }
    QString text = texts_[key];
    if (!why.detail.empty()) text += QStringLiteral("\n(") + QString::fromStdString(why.detail) + QLatin1Char(')');
    return text;
}

void MainWindow::reportFailure(Failure what, const std::string& path, const LoadProblem& why) {
    QString text = what == Failure::Load ? format(texts_["loadFailed"], QString::fromStdString(path))
                                         : texts_["bufferFailed"];
    const QString reason = reasonText(why);
    if (!reason.isEmpty()) text += QLatin1Char('\n') + reason;
    std::fprintf(stderr, "Bitora: %s\n", text.toUtf8().constData());  // also for a run without a screen
    QMessageBox::warning(this, texts_["app"], text);
}

void MainWindow::fitImage(int w, int h) {
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const QRect avail = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    const int frameW = frameGeometry().width() - geometry().width();
    const int frameH = frameGeometry().height() - geometry().height();
    const int menuH = menuBar()->sizeHint().height();
    const Size client = fittedClientSize(w, h, avail.width() - frameW, avail.height() - frameH - menuH);
    const int minW = std::max(client.width, menuBar()->minimumSizeHint().width());
    // The picture fills the client area; a window wider than the picture for the menu stretches it.
    resize(std::max(client.width, std::min(minW, avail.width())), client.height + menuH);
    move(avail.x() + (avail.width() - width() - frameW) / 2, avail.y() + (avail.height() - height() - frameH) / 2);
    updateClientArea();
}

void MainWindow::setFileTitle(const std::string& fileName) {
    if (fileName.empty()) {
        setWindowTitle(QString::asprintf(texts_["titleStart"].toUtf8().constData(),
                                         texts_["app"].toUtf8().constData(), texts_["version"].toUtf8().constData()));
    } else {
        setWindowTitle(QString::asprintf(texts_["titleFile"].toUtf8().constData(), texts_["app"].toUtf8().constData(),
                                         fileName.c_str()));
    }
}

void MainWindow::requestRepaint() {
    canvas_->update();
    updateMenus();
}

// ---- file commands ----

QString MainWindow::chooseFile(const QString& title) {
    const QString start = core_ && core_->fileOpen() ? QFileInfo(QString::fromStdString(core_->path())).absolutePath()
                                                     : QString();
    QString selected = texts_["filterBmp"];
    const QString pictures = format(texts_["filterPictures"], QtPictureDecoder::namePatterns());
    return QFileDialog::getOpenFileName(this, title, start,
                                        texts_["filterAll"] + ";;" + texts_["filterBmp"] + ";;" + pictures, &selected);
}

void MainWindow::openCommand() {
    const QString path = chooseFile(texts_["openTitle"]);
    if (path.isEmpty() || !core_) return;
    BitoraCore::sendStartupCommand();
    core_->openFile(path.toStdString());
}

void MainWindow::saveAsCommand() {
    if (!core_ || !core_->fileOpen()) return;
    // The file is written as BMP whatever it was read from: offer a BMP name.
    QString start = QString::fromStdString(core_->path());
    const QFileInfo info(start);
    if (info.suffix().compare(QStringLiteral("bmp"), Qt::CaseInsensitive) != 0)
        start = info.dir().filePath(info.completeBaseName() + QStringLiteral(".bmp"));
    const QString path = QFileDialog::getSaveFileName(this, texts_["saveTitle"], start,
                                                      texts_["filterBmp"] + ";;" + texts_["filterAll"]);
    if (path.isEmpty()) return;
    if (!core_->saveAs(path.toStdString())) QMessageBox::warning(this, texts_["app"], format(texts_["saveFailed"], path));
}

void MainWindow::propertyCommand() {
    const QString path = chooseFile(texts_["openTitle"]);
    if (path.isEmpty()) return;
    const auto p = BitoraCore::properties(path.toStdString());
    if (!p) {
        QMessageBox::information(this, texts_["propertyCaption"], format(texts_["notBitmap"], path));
        return;
    }
    const int64_t kb = (p->workBytes + 1023) / 1024;
    QMessageBox::information(this, texts_["propertyCaption"],
                             QString::asprintf(texts_["propertyText"].toUtf8().constData(), p->height, p->width,
                                               p->bitsPerPixel, static_cast<int>(kb), static_cast<int>(p->workBytes)));
}

void MainWindow::conditionCommand() {
    if (!core_ || !core_->fileOpen()) return;
    gdShowConditionDlg(static_cast<TavikWindow>(winId()));
    canvas_->update();
}

bool MainWindow::saveScreenshot(const QString& path) {
    canvas_->forceFront_ = true;  // the picture as the user in front of the window sees it
    const QPixmap shot = grab();
    canvas_->forceFront_ = false;
    return shot.save(path, "PNG");
}

}  // namespace bitora::ui
