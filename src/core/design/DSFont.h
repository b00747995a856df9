#pragma once

#include <QFont>

// The six faces of the type scale, by family and weight. Sizes are given in
// the design's points and become the same number of device-independent pixels.
// Chinese text falls back to Noto CJK through the family list.
namespace DSFont {

enum class Face {
    ManropeMedium, // Manrope 500
    ManropeSemiBold, // Manrope 600
    ManropeBold, // Manrope 700
    ManropeExtraBold, // Manrope 800
    MonoMedium, // JetBrains Mono 500
    MonoBold, // JetBrains Mono 700
};

QFont font(Face face, qreal size);

inline QFont medium(qreal size)
{
    return font(Face::ManropeMedium, size);
}
inline QFont semiBold(qreal size)
{
    return font(Face::ManropeSemiBold, size);
}
inline QFont bold(qreal size)
{
    return font(Face::ManropeBold, size);
}
inline QFont extraBold(qreal size)
{
    return font(Face::ManropeExtraBold, size);
}
inline QFont monoMedium(qreal size)
{
    return font(Face::MonoMedium, size);
}
inline QFont monoBold(qreal size)
{
    return font(Face::MonoBold, size);
}

// The platform's UI font at a pixel size and weight (symbols, key fields).
QFont system(qreal size, QFont::Weight weight = QFont::Normal);

} // namespace DSFont
