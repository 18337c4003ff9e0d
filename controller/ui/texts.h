// The texts of the controller's windows in the interface language, read from
// the resources compiled into the program (key=text lines).
#pragma once

#include <QHash>
#include <QString>

namespace tavik::controller::ui {

class Texts {
public:
    explicit Texts(bool japanese);
    // The text for `key`; the key itself when the resources lack it.
    QString operator()(const char* key) const;
    bool japanese() const { return japanese_; }

private:
    bool japanese_;
    QHash<QString, QString> texts_;
};

}  // namespace tavik::controller::ui
