#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// QR Code symbols (ISO/IEC 18004) from libqrencode, in 8-bit mode.
namespace QrEncoder {

// The symbol for `payload` at error-correction level "H", "Q", "M" or "L":
// one pixel per module, dark modules black on white, without a quiet border
// of its own (the caller draws the margin). A null image when the level
// letter is unknown, the payload is empty or it does not fit in a symbol.
QImage encode(const QByteArray& payload, const QString& level);

} // namespace QrEncoder
