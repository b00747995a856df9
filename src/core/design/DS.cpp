#include "core/design/DS.h"

namespace DS {

namespace {
QColor rgb(int r, int g, int b)
{
    return QColor::fromRgbF(r / 255.0f, g / 255.0f, b / 255.0f, 1.0f);
}
} // namespace

// clang-format off
const QColor& bg()         { static const QColor c = rgb(10, 14, 19); return c; }
const QColor& ink()        { static const QColor c = rgb(242, 248, 255); return c; }
const QColor& ink2()       { static const QColor c = rgb(232, 242, 255); return c; }
const QColor& mint()       { static const QColor c = rgb(142, 247, 216); return c; }
const QColor& cyan()       { static const QColor c = rgb(56, 214, 240); return c; }
const QColor& blue()       { static const QColor c = rgb(106, 168, 251); return c; }
const QColor& amber()      { static const QColor c = rgb(255, 190, 90); return c; }
const QColor& deepInk()    { static const QColor c = rgb(4, 33, 26); return c; }
const QColor& danger()     { static const QColor c = rgb(255, 143, 160); return c; }
const QColor& dangerFill() { static const QColor c = rgb(255, 90, 110); return c; }
const QColor& hair()       { static const QColor c = QColor::fromRgbF(1, 1, 1, 0.07f); return c; }
const QColor& line()       { static const QColor c = QColor::fromRgbF(1, 1, 1, 0.06f); return c; }
// clang-format on

QColor at(const QColor& colour, qreal p)
{
    QColor c = colour;
    c.setAlphaF(float(colour.alphaF() * p));
    return c;
}

QColor muted(qreal p)
{
    return at(ink2(), p);
}

QColor failureRed()
{
    return QColor::fromRgbF(1.0f, 0.42f, 0.42f, 1.0f);
}

} // namespace DS
