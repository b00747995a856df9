#include "core/platform/QrEncoder.h"

#include "core/platform/LateLibrary.h"

#include <qrencode.h>

#include <memory>
#include <optional>

namespace {

// libqrencode is opened when the first code is drawn (the phone pairing sheet).
struct Qrencode {
    using Encode = QRcode* (*)(int, const unsigned char*, int, QRecLevel);
    using Free = void (*)(QRcode*);
    Encode encodeData = nullptr;
    Free free = nullptr;
};

const Qrencode* qrencode()
{
    static const Qrencode lib = [] {
        LateLibrary library("libqrencode.so.4");
        return Qrencode { library.resolve<Qrencode::Encode>("QRcode_encodeData"),
            library.resolve<Qrencode::Free>("QRcode_free") };
    }();
    return lib.encodeData && lib.free ? &lib : nullptr;
}

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
    const Qrencode* lib = qrencode();
    if (!ec || payload.isEmpty() || !lib)
        return {};
    // Version 0: the smallest symbol that holds the payload at this level.
    std::unique_ptr<QRcode, Qrencode::Free> code(
        lib->encodeData(int(payload.size()), reinterpret_cast<const unsigned char*>(payload.constData()), 0, *ec),
        lib->free);
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
