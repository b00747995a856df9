#include "core/runtimes/RuntimeEnablement.h"

#include "core/runtimes/RuntimeEnablementStore.h"

RuntimeEnablement::RuntimeEnablement(QObject* parent)
    : QObject(parent)
{
}

void RuntimeEnablement::reload(const QList<RuntimeRow>& rows)
{
    QMap<QString, bool> result;
    if (!rows.isEmpty()) {
        const QMap<QString, bool> flags = RuntimeEnablementStore::load();
        for (const RuntimeRow& row : rows)
            result.insert(row.kind, flags.value(row.kind, true));
    }
    if (result == m_enabled)
        return;
    m_enabled = result;
    emit changed();
}

void RuntimeEnablement::setEnabled(const RuntimeRow& row, bool enabled, const QList<RuntimeRow>& rows)
{
    QString error;
    if (!RuntimeEnablementStore::setEnabled(row.kind, enabled, &error)) {
        emit notice(QStringLiteral("改不了启用状态：") + error, true);
        return;
    }
    reload(rows);
    emit notice(row.display
            + (enabled ? QStringLiteral(" 已启用 —— Tolvarine 可以把活派给它了")
                       : QStringLiteral(" 已停用 —— 不再派活给它。没有卸载、没有退出登录、凭据也还在")),
        false);
}
