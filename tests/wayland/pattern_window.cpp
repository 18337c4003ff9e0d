// A window of known content for the Wayland session test: a white field with black blocks of
// different sizes near its top-left corner (what a 64 x 48 view at one pixel per pin sees), and
// grey, blue and black blocks further in. SIGUSR1 turns the black block at (300, 200) white and back
// (damage tests). Prints "painted" on stdout after its first paint. Arguments (optional): the
// application id (also in the title), then "shifted" for the blocks moved 16 pixels right and 10 down (a second window
// of other content).
#include <QApplication>
#include <QPainter>
#include <QSocketNotifier>
#include <QWidget>
#include <csignal>
#include <cstdio>
#include <string_view>
#include <unistd.h>

namespace {

class Pattern : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const QColor paper = Qt::white, ink = Qt::black;
        p.fillRect(rect(), paper);
        if (shifted) p.translate(16, 10);
        p.fillRect(10, 6, 24, 12, ink);
        p.fillRect(40, 20, 8, 22, ink);
        p.fillRect(4, 30, 14, 10, QColor(0x20, 0x20, 0x20));
        p.fillRect(52, 4, 6, 6, ink);
        p.fillRect(120, 90, 200, 60, QColor(0x60, 0x60, 0x60));
        p.fillRect(400, 40, 40, 30, QColor(0x30, 0x60, 0xC0));
        p.fillRect(300, 200, 80, 120, flipped_ ? paper : ink);
        if (!painted_) {
            painted_ = true;
            std::printf("painted\n");
            std::fflush(stdout);
        }
    }

public:
    bool shifted = false;
    void flip() {
        flipped_ = !flipped_;
        update(300, 200, 80, 120);
    }

private:
    bool painted_ = false;
    bool flipped_ = false;
};

int gFlipPipe[2] = {-1, -1};

void onFlip(int) {
    const char c = 1;
    [[maybe_unused]] auto n = write(gFlipPipe[1], &c, 1);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc > 1) QGuiApplication::setDesktopFileName(argv[1]);
    Pattern w;
    w.shifted = argc > 2 && std::string_view(argv[2]) == "shifted";
    w.setWindowTitle(argc > 1 ? QString("pattern ") + argv[1] : QString("pattern"));
    w.resize(640, 480);
    w.show();
    if (pipe(gFlipPipe) == 0) {
        std::signal(SIGUSR1, onFlip);
        auto* n = new QSocketNotifier(gFlipPipe[0], QSocketNotifier::Read, &w);
        QObject::connect(n, &QSocketNotifier::activated, &w, [&w] {
            char c = 0;
            [[maybe_unused]] auto r = read(gFlipPipe[0], &c, 1);
            w.flip();
        });
    }
    return app.exec();
}
