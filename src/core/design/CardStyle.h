#pragma once

#include <QColor>

#include <optional>

// Colours of the one card look: a rounded translucent fill with a 1-point
// inner border, plain or tinted by state (emphasis strengthens the tint).
namespace CardStyle {

struct Colors {
    QColor fill;
    QColor stroke;
};

// No tint: ink2 at 0.045 with the hairline, whatever `emphasized` says.
// A tint: the tint at 0.07 / 0.2, or at 0.13 / 0.35 when emphasized; a
// translucent tint has its own opacity multiplied.
Colors colors(const std::optional<QColor>& tint, bool emphasized);

constexpr qreal kPadding = 14;
constexpr qreal kRadius = 12;

} // namespace CardStyle
