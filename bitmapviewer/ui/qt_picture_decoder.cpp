// Reading pictures through the Qt image plug-ins (see qt_picture_decoder.h).
#include "bitmapviewer/ui/qt_picture_decoder.h"

#include <QImage>
#include <QImageReader>

#include <algorithm>
#include <cstdint>

namespace bitora::ui {

namespace {

LoadResult failure(LoadProblem::Reason reason, const QString& detail) {
    LoadResult r;
    r.problem.reason = reason;
    r.problem.detail = detail.toStdString();
    return r;
}

LoadProblem::Reason reasonOf(QImageReader::ImageReaderError e) {
    switch (e) {
        case QImageReader::FileNotFoundError: return LoadProblem::Reason::NotFound;
        case QImageReader::DeviceError: return LoadProblem::Reason::NoAccess;
        case QImageReader::UnsupportedFormatError: return LoadProblem::Reason::Unsupported;
        default: return LoadProblem::Reason::Undecodable;
    }
}

// One channel laid over white with the given opacity.
inline uint32_t overWhite(uint32_t c, uint32_t a) { return (c * a + 255u * (255u - a) + 127u) / 255u; }

}  // namespace

QtPictureDecoder::QtPictureDecoder(int svgLongSide) : svgLongSide_(std::clamp(svgLongSide, 1, kMaxSvgSize)) {}

LoadResult QtPictureDecoder::decode(const std::string& path) {
    QImageReader reader(QString::fromStdString(path));
    reader.setAutoTransform(true);  // a photograph's stored orientation
    const QByteArray format = reader.format().toLower();
    if (format.isEmpty()) {
        // Nothing recognises the content: say so, with Qt's words when it has any.
        const QString why = reader.errorString();
        return failure(reasonOf(reader.error() == QImageReader::UnknownError ? QImageReader::UnsupportedFormatError
                                                                             : reader.error()),
                       why);
    }
    if (format == "svg" || format == "svgz") {
        QSize size = reader.size();
        if (!size.isValid() || size.isEmpty()) size = QSize(svgLongSide_, svgLongSide_);
        size.scale(svgLongSide_, svgLongSide_, Qt::KeepAspectRatio);
        reader.setScaledSize(size.expandedTo(QSize(1, 1)));
    } else {
        const QSize size = reader.size();
        if (size.isValid() && (int64_t{size.width()} * size.height() > (int64_t{1} << 27)))
            return failure(LoadProblem::Reason::TooLarge, QString());
    }
    QImage image = reader.read();
    if (image.isNull()) return failure(reasonOf(reader.error()), reader.errorString());

    const bool alpha = image.hasAlphaChannel();
    image = image.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull()) return failure(LoadProblem::Reason::TooLarge, QString());
    LoadResult r;
    r.bitmap.reset(lumoCreateBitmap(image.width(), image.height()));
    if (!r.bitmap) return failure(LoadProblem::Reason::TooLarge, QString());
    const size_t w = static_cast<size_t>(image.width());
    for (int y = 0; y < image.height(); ++y) {
        // Both formats hold one 0xAARRGGBB word a pixel.
        const auto* src = reinterpret_cast<const uint32_t*>(image.constScanLine(y));
        uint32_t* dst = r.bitmap->lpPixels + static_cast<size_t>(y) * w;
        if (!alpha) {
            for (size_t x = 0; x < w; ++x) dst[x] = src[x] & 0x00FFFFFFu;
            continue;
        }
        for (size_t x = 0; x < w; ++x) {
            const uint32_t p = src[x], a = p >> 24;
            dst[x] = overWhite((p >> 16) & 0xFF, a) << 16 | overWhite((p >> 8) & 0xFF, a) << 8 | overWhite(p & 0xFF, a);
        }
    }
    return r;
}

QStringList QtPictureDecoder::formats() {
    QStringList list;
    for (const QByteArray& f : QImageReader::supportedImageFormats()) {
        const QString name = QString::fromLatin1(f).toLower();
        if (!list.contains(name)) list.append(name);
    }
    if (!list.contains(QStringLiteral("bmp"))) list.prepend(QStringLiteral("bmp"));
    return list;
}

QString QtPictureDecoder::namePatterns() {
    QStringList patterns;
    for (const QString& f : formats()) {
        patterns.append(QStringLiteral("*.") + f);
        patterns.append(QStringLiteral("*.") + f.toUpper());
    }
    patterns.append(QStringLiteral("*.dib"));
    patterns.append(QStringLiteral("*.DIB"));
    return patterns.join(QLatin1Char(' '));
}

}  // namespace bitora::ui
