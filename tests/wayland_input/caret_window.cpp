// The Wayland caret window: one text field filling its window with a long line at its top (black
// on white, the caret line not drawn, so every capture of it is alike). Prints "shown" once exposed; each
// "caret N" line on standard input moves the caret to N and prints "caret <x> <y>": the caret
// line's middle column and top in the window's own pixels.
#include <QApplication>
#include <QLineEdit>
#include <QPalette>
#include <QProxyStyle>
#include <QSocketNotifier>

#include <cstdio>
#include <iostream>
#include <string>
#include <unistd.h>

namespace {
// No caret line in the pixels: a caret drawn or not (blinking, focus) would make two captures
// of the same view differ.
class NoCaretStyle : public QProxyStyle {
public:
    int pixelMetric(PixelMetric m, const QStyleOption* o = nullptr, const QWidget* w = nullptr) const override {
        return m == PM_TextCursorWidth ? 0 : QProxyStyle::pixelMetric(m, o, w);
    }
};

class Field : public QLineEdit {
public:
    using QLineEdit::cursorRect;

protected:
    void paintEvent(QPaintEvent* e) override {
        QLineEdit::paintEvent(e);
        if (!shown_) {
            shown_ = true;
            std::printf("shown\n");
            std::fflush(stdout);
        }
    }

private:
    bool shown_ = false;
};
}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setStyle(new NoCaretStyle);  // the application owns its style
    QGuiApplication::setDesktopFileName(argc > 1 ? argv[1] : "tavik-caret-window");
    Field field;
    QPalette pal = field.palette();
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::Text, Qt::black);
    field.setPalette(pal);
    field.setFrame(false);
    // The text at the top: the toolkit's character extents put it there whatever the height.
    field.setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QFont font = field.font();
    font.setPixelSize(24);
    field.setFont(font);
    field.setText(QString("The quick brown fox jumps over the lazy dog. ").repeated(8));
    field.setWindowTitle(argc > 2 ? argv[2] : "Caret window");
    field.resize(900, 60);
    field.show();
    field.setCursorPosition(0);
    QSocketNotifier in(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&in, &QSocketNotifier::activated, [&] {
        std::string line;
        if (!std::getline(std::cin, line)) {
            app.quit();
            return;
        }
        if (line.rfind("caret ", 0) == 0) {
            field.setFocus();
            field.setCursorPosition(std::stoi(line.substr(6)));
            const QRect r = field.cursorRect();
            std::printf("caret %d %d\n", r.center().x(), r.top());
            std::fflush(stdout);
        }
    });
    return app.exec();
}
