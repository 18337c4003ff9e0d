// A small Qt application for the caret test: one wide text field with a long
// line. Prints "window <id> <x> <y>" once shown; each "caret N" line on its standard
// input moves the caret to N and prints "caret <x> <y>", the caret line's top
// on the screen. The window's origin on the screen follows its id.
#include <QApplication>
#include <QLineEdit>
#include <QSocketNotifier>

#include <cstdio>
#include <iostream>
#include <string>
#include <unistd.h>

namespace {
class Field : public QLineEdit {
public:
    using QLineEdit::cursorRect;
};
}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Field field;
    field.setObjectName("field");
    field.setText(QString("The quick brown fox jumps over the lazy dog. ").repeated(8));
    field.setGeometry(20, 40, 900, 40);
    field.setFrame(false);
    field.show();
    field.activateWindow();
    field.setFocus();
    field.setCursorPosition(0);
    app.processEvents();
    const QPoint origin = field.mapToGlobal(QPoint(0, 0));
    std::printf("window %llu %d %d\n", static_cast<unsigned long long>(field.winId()), origin.x(), origin.y());
    std::fflush(stdout);
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
            const QRect r = field.cursorRect();  // centred on the caret line
            const QPoint p = field.mapToGlobal(QPoint(r.center().x(), r.top()));
            std::printf("caret %d %d\n", p.x(), p.y());
            std::fflush(stdout);
        }
    });
    return app.exec();
}
