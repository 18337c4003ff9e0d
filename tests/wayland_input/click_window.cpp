// The Wayland test window: fills its surface with one colour and writes every button press and
// release it receives to standard output as "press|release <button> <x> <y>" (Qt button numbers:
// 1 left, 2 right, 4 middle; window-local pixels). Prints "shown" once the window is exposed.
#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>
#include <cstdio>

namespace {

class ClickWindow : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), QColor(0x20, 0x40, 0x90));
        if (!shown_) {
            shown_ = true;
            std::printf("shown\n");
            std::fflush(stdout);
        }
    }
    void mousePressEvent(QMouseEvent* e) override { report("press", e); }
    void mouseReleaseEvent(QMouseEvent* e) override { report("release", e); }

private:
    static void report(const char* what, QMouseEvent* e) {
        const QPoint at = e->position().toPoint();
        std::printf("%s %d %d %d\n", what, static_cast<int>(e->button()), at.x(), at.y());
        std::fflush(stdout);
    }
    bool shown_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(argc > 1 ? argv[1] : "tavik-click-window");
    ClickWindow w;
    w.setWindowTitle(argc > 2 ? argv[2] : "Click window");
    w.resize(400, 300);
    w.show();
    return app.exec();
}
