#include "core/workforce/CollabCopy.h"

namespace {

// "A", "A 和 B", "A、B 和 C".
QString joined(const QStringList& names)
{
    if (names.size() == 1)
        return names.first();
    return names.mid(0, names.size() - 1).join(QStringLiteral("、")) + QStringLiteral(" 和 ") + names.last();
}

} // namespace

namespace CollabCopy {

QString waitingFor(const QStringList& names)
{
    if (names.isEmpty())
        return QStringLiteral("在等一件还没开始的事");
    return QStringLiteral("等待 ") + joined(names) + QStringLiteral(" 完成");
}

QString blockedByFailure(const QStringList& names)
{
    if (names.isEmpty())
        return QStringLiteral("前面一步失败了，它没法开始");
    if (names.size() == 1)
        return names.first() + QStringLiteral(" 那一步失败了，它没法开始");
    return joined(names) + QStringLiteral(" 那几步失败了，它没法开始");
}

} // namespace CollabCopy
