// Reading the bitmap viewer's text resources (see texts.h).
#include "bitmapviewer/ui/texts.h"

#include "common/ui/text_resource.h"

namespace bitora::ui {

Texts::Texts(bool japanese)
    : texts_(tavik::ui::loadTextResource(japanese ? QStringLiteral(":/bitora/bitora_ja.txt")
                                                  : QStringLiteral(":/bitora/bitora_en.txt"))) {}

}  // namespace bitora::ui
