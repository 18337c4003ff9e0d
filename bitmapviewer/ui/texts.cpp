// Reading the bitmap viewer's text resources (see texts.h).
#include "bitmapviewer/ui/texts.h"

#include <QFile>

namespace bitora::ui {

Texts::Texts(bool japanese) {
    QFile f(japanese ? QStringLiteral(":/bitora/bitora_ja.txt") : QStringLiteral(":/bitora/bitora_en.txt"));
    if (!f.open(QIODevice::ReadOnly)) return;
    for (QByteArray raw : f.readAll().split('\n')) {
        if (raw.endsWith('\r')) raw.chop(1);
        if (raw.isEmpty() || raw.startsWith('#')) continue;
        const qsizetype eq = raw.indexOf('=');
        if (eq <= 0) continue;
        QString value = QString::fromUtf8(raw.mid(eq + 1));
        value.replace(QStringLiteral("\\n"), QStringLiteral("\n"));
        texts_.insert(QString::fromUtf8(raw.left(eq)), value);
    }
}

}  // namespace bitora::ui
