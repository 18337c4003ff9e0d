// The Qt side of the text resources: one compiled-in resource file read into a table of
// QStrings (the parsing itself is common/text_resources.h).
#pragma once

#include <QFile>
#include <QHash>
#include <QString>

#include "common/text_resources.h"

namespace tavik::ui {

// The texts of the resource at `path` (":/..."); empty when it cannot be read.
inline QHash<QString, QString> loadTextResource(const QString& path) {
    QHash<QString, QString> out;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return out;
    const QByteArray bytes = f.readAll();
    for (const auto& [key, text] :
         parseTextResource(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()))))
        out.insert(QString::fromStdString(key), QString::fromStdString(text));
    return out;
}

}  // namespace tavik::ui
