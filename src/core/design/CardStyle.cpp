#include "core/design/CardStyle.h"

#include "core/design/DS.h"

namespace CardStyle {

Colors colors(const std::optional<QColor>& tint, bool emphasized)
{
    if (!tint)
        return { DS::muted(0.045), DS::hair() };
    if (emphasized)
        return { DS::at(*tint, 0.13), DS::at(*tint, 0.35) };
    return { DS::at(*tint, 0.07), DS::at(*tint, 0.2) };
}

} // namespace CardStyle
