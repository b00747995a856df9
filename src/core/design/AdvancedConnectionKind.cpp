#include "core/design/AdvancedConnectionKind.h"

namespace AdvancedConnectionKinds {

QString rawValue(AdvancedConnectionKind kind)
{
    switch (kind) {
    case AdvancedConnectionKind::acp:
        return QStringLiteral("acp");
    case AdvancedConnectionKind::mcp:
        return QStringLiteral("mcp");
    case AdvancedConnectionKind::generic:
        break;
    }
    return QStringLiteral("generic");
}

std::optional<AdvancedConnectionKind> fromRawValue(const QString& raw)
{
    for (AdvancedConnectionKind kind :
        { AdvancedConnectionKind::acp, AdvancedConnectionKind::mcp, AdvancedConnectionKind::generic }) {
        if (rawValue(kind) == raw)
            return kind;
    }
    return std::nullopt;
}

bool isAdvanced(const QString& runtimeKind)
{
    return fromRawValue(runtimeKind).has_value();
}

} // namespace AdvancedConnectionKinds
