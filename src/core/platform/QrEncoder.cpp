#include "core/platform/QrEncoder.h"

#include <qrencode.h>

#include <memory>
#include <optional>

namespace {

std::optional<QRecLevel> levelFor(const QString& letter)
{
    if (letter == QLatin1String("H"))
        return QR_ECLEVEL_H;
    if (letter == QLatin1String("Q"))
        return QR_ECLEVEL_Q;
    if (letter == QLatin1String("M"))
        return QR_ECLEVEL_M;
    if (letter == QLatin1String("L"))
        return QR_ECLEVEL_L;
    return std::nullopt;
}

} // namespace

namespace QrEncoder {

QImage encode(const QByteArray& payload, const QString& level)
{
    const auto ec = levelFor(level);
    if (!ec || payload.isEmpty())
        return {};
    // Version 0: the smallest symbol that holds the payload at this level.
    std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeData(int(payload.size()), reinterpret_cast<const unsigned char*>(payload.constData()), 0, *ec),
        &QRcode_free);
    if (!code || code->width <= 0 || !code->data)
        return {};

    const int w = code->width;
    QImage image(w, w, QImage::Format_Grayscale8);
    for (int y = 0; y < w; ++y) {
        uchar* line = image.scanLine(y);
        const unsigned char* row = code->data + qsizetype(y) * w;
        // Bit 0 of each byte is the module's colour: 1 dark, 0 light.
        for (int x = 0; x < w; ++x)
            line[x] = (row[x] & 1) ? 0 : 255;
    }
    return image;
}

} // namespace QrEncoder
