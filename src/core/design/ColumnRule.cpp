#include "core/design/ColumnRule.h"

#include <cmath>

namespace ColumnRule {

int columnCount(double width, double minItem, double spacing)
{
    if (!(width > 0))
        return 1;
    const double q = (width + spacing) / (minItem + spacing);
    if (std::isnan(q))
        return 1;
    // Compare before truncating: converting an infinite or ≥ 2^63 quotient
    // to an integer is undefined.
    if (q >= 3)
        return 3;
    if (q < 1)
        return 1;
    return static_cast<int>(q);
}

} // namespace ColumnRule
