#include "core/runtimes/RuntimeEnablement.h"

#include "core/platform/SerialExecutor.h"
#include "core/runtimes/RuntimeEnablementStore.h"

#include <QPointer>

RuntimeEnablement::RuntimeEnablement(QObject* parent)
    : QObject(parent)
{
}

void RuntimeEnablement::reload(const QList<RuntimeRow>& rows)
{
    apply(rows, rows.isEmpty() ? QMap<QString, bool> {} : RuntimeEnablementStore::load());
}

void RuntimeEnablement::apply(const QList<RuntimeRow>& rows, const QMap<QString, bool>& flags)
{
    QMap<QString, bool> result;
    for (const RuntimeRow& row : rows)
        result.insert(row.kind, flags.value(row.kind, true));
    if (result == m_enabled)
        return;
    m_enabled = result;
    emit changed();
}

QCoro::Task<RuntimeNotice> RuntimeEnablement::setEnabled(RuntimeRow row, bool enabled, QList<RuntimeRow> rows)
{
    struct Written {
        bool ok = false;
        QString error;
        QMap<QString, bool> flags;
    };
    QPointer<RuntimeEnablement> self(this);
    // The flags are read back with the write, so the map shows what the file now holds.
    auto job = [kind = row.kind, enabled] {
        Written w;
        w.ok = RuntimeEnablementStore::setEnabled(kind, enabled, &w.error);
        if (w.ok)
            w.flags = RuntimeEnablementStore::load();
        return w;
    };
    auto write = RuntimeEnablementStore::queue().task(std::move(job));
    const Written written = co_await std::move(write);
    RuntimeNotice said;
    if (!written.ok) {
        said = { QStringLiteral("改不了启用状态：") + written.error, true };
    } else {
        said = { row.display
                + (enabled ? QStringLiteral(" 已启用 —— Tolvarine 可以把活派给它了")
                           : QStringLiteral(" 已停用 —— 不再派活给它。没有卸载、没有退出登录、凭据也还在")),
            false };
    }
    if (!self)
        co_return said;
    if (written.ok)
        self->apply(rows, written.flags);
    emit self->notice(said.text, said.isError);
    co_return said;
}
