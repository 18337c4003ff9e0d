// Reading the controller's texts from the compiled-in resources.
#include "controller/ui/texts.h"

#include <QFile>

namespace tavik::controller::ui {

Texts::Texts(bool japanese) : japanese_(japanese) {
    QFile f(japanese ? QStringLiteral(":/tavik/controller_ja.txt") : QStringLiteral(":/tavik/controller_en.txt"));
    if (!f.open(QIODevice::ReadOnly)) return;
    for (const QByteArray& raw : f.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(u'#')) continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq > 0) texts_.insert(line.left(eq), line.mid(eq + 1).replace(QStringLiteral("\\n"), QStringLiteral("\n")));
    }
}

QString Texts::operator()(const char* key) const {
    const QString k = QString::fromLatin1(key);
    return texts_.value(k, k);
}

}  // namespace tavik::controller::ui
