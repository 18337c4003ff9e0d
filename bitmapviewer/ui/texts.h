// The bitmap viewer's texts in the user's language, read from the resource
// files ("key=text" lines) built into the program.
#pragma once

#include <QHash>
#include <QString>

namespace bitora::ui {

class Texts {
public:
    explicit Texts(bool japanese);
    // The text for `key` ("" when missing); "\n" in the file becomes a line break.
    QString operator[](const char* key) const { return texts_.value(QString::fromLatin1(key)); }

private:
    QHash<QString, QString> texts_;
};

}  // namespace bitora::ui
