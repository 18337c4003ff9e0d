// The bitmap viewer's reader of picture formats other than BMP: whatever the
// installed Qt image plug-ins read (PNG, JPEG, GIF, WebP, TIFF, ...), SVG
// rendered to a chosen size, turned into a bitmap of the image library.
#pragma once

#include <QString>
#include <QStringList>

#include "bitmapviewer/picture_loader.h"

namespace bitora::ui {

class QtPictureDecoder : public PictureDecoder {
public:
    static constexpr int kDefaultSvgSize = 1024;
    static constexpr int kMaxSvgSize = 16384;

    // `svgLongSide`: the long side in pixels that scalable pictures are rendered
    // to (clamped to 1..kMaxSvgSize).
    explicit QtPictureDecoder(int svgLongSide = kDefaultSvgSize);

    // Reads the first frame of `path`; the format is found from the name, then
    // from the content. Needs a QGuiApplication (SVG text uses its fonts).
    LoadResult decode(const std::string& path) override;

    int svgLongSide() const { return svgLongSide_; }

    // The formats the installed plug-ins read, lower case ("bmp", "gif", ...).
    static QStringList formats();
    // File name patterns for them, lower and upper case ("*.png *.PNG ...").
    static QString namePatterns();

private:
    int svgLongSide_;
};

}  // namespace bitora::ui
