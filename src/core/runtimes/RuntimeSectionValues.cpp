#include "core/runtimes/RuntimeSectionValues.h"

#include "core/design/AdvancedConnectionKind.h"

#include <QFileInfo>

namespace RuntimeSectionValues {

QList<RuntimeRow> plainRuntimeRows(const QList<RuntimeRow>& rows)
{
    QList<RuntimeRow> out;
    for (const RuntimeRow& row : rows) {
        if (!AdvancedConnectionKinds::isAdvanced(row.kind))
            out.append(row);
    }
    return out;
}

QSet<QString> knownRuntimeNames(const QList<RuntimeRow>& rows)
{
    QSet<QString> names;
    for (const RuntimeRow& row : rows) {
        names.insert(row.kind.toLower());
        if (row.detail.startsWith(QLatin1Char('/'))) {
            const QString file = QFileInfo(row.detail).fileName().toLower();
            if (!file.isEmpty())
                names.insert(file);
        }
    }
    return names;
}

std::optional<QString> runtimeCountLine(const QMap<QString, qint64>& counts)
{
    if (counts.isEmpty())
        return std::nullopt;
    auto n = [&](const char* key) { return QString::number(counts.value(QLatin1String(key), 0)); };
    return QStringLiteral("已注册 ") + n("registered") + QStringLiteral(" 家 · 已安装 ") + n("installed")
        + QStringLiteral(" 家 · 可用 ") + n("ready") + QStringLiteral(" 家 · 待登录 ") + n("login_required")
        + QStringLiteral(" 家 · 待配凭据 ") + n("credentials_required") + QStringLiteral(" 家");
}

QStringList logTail(const QStringList& lines, int count)
{
    return lines.mid(qMax<qsizetype>(0, lines.size() - count));
}

} // namespace RuntimeSectionValues
