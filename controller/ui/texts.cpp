// Reading the controller's texts from the compiled-in resources.
#include "controller/ui/texts.h"

#include "common/ui/text_resource.h"

namespace tavik::controller::ui {

Texts::Texts(bool japanese)
    : japanese_(japanese),
      texts_(tavik::ui::loadTextResource(japanese ? QStringLiteral(":/tavik/controller_ja.txt")
                                                  : QStringLiteral(":/tavik/controller_en.txt"))) {}

QString Texts::operator()(const char* key) const {
    const QString k = QString::fromLatin1(key);
    return texts_.value(k, k);
}

}  // namespace tavik::controller::ui
