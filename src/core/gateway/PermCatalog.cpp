#include "core/gateway/PermCatalog.h"

namespace perm {

const QList<Tier>& catalog()
{
    static const QList<Tier> tiers {
        { QStringLiteral("read"), QStringLiteral("读文件"), QStringLiteral("让它看得见你的代码") },
        { QStringLiteral("write"), QStringLiteral("写入文件"), QStringLiteral("让它能改你的代码") },
        { QStringLiteral("exec"), QStringLiteral("执行脚本 / 命令"), QStringLiteral("构建、测试、生成文件都要用它") },
        { QStringLiteral("web"), QStringLiteral("访问互联网"), QStringLiteral("联网检索当前信息（只取不发）") },
        { QStringLiteral("push"), QStringLiteral("推送到远端"), QStringLiteral("让它能把改动推上去") },
        { QStringLiteral("danger"), QStringLiteral("删除 / 迁移数据"),
            QStringLiteral("不可逆。必须先有机器**显式声明**过，才可能生效；手机自己声明不了") },
    };
    return tiers;
}

std::optional<QSet<QString>> evidenceKinds(const QString& key)
{
    static const QMap<QString, QSet<QString>> kinds {
        { QStringLiteral("read"), { QStringLiteral("read") } },
        { QStringLiteral("exec"),
            { QStringLiteral("test"), QStringLiteral("test_pass"), QStringLiteral("test_fail") } },
        { QStringLiteral("write"), { QStringLiteral("edit") } },
    };
    const auto it = kinds.constFind(key);
    if (it == kinds.constEnd())
        return std::nullopt;
    return *it;
}

QList<PermRow> rows(const QMap<QString, bool>& effective, const QStringList& pending)
{
    QList<PermRow> out;
    for (const Tier& t : catalog()) {
        PermState state = PermState::Denied;
        if (effective.value(t.key, false))
            state = PermState::Granted;
        else if (pending.contains(t.key))
            state = PermState::Pending;
        out.append({ t.key, t.title, t.detail, state });
    }
    return out;
}

QStringList pendingKeys(const QStringList& pending)
{
    QStringList out;
    for (const Tier& t : catalog())
        if (pending.contains(t.key))
            out.append(t.key);
    return out;
}

QStringList grantArgs(const QList<PermRow>& rows, const QString& key)
{
    // The tiers on now and the new one. A tier only waiting may have been
    // asked for by the phone or another machine: it is not this machine's to declare.
    QStringList declared;
    for (const PermRow& r : rows)
        if (r.state == PermState::Granted)
            declared.append(r.key);
    if (!declared.contains(key))
        declared.append(key);
    QStringList out;
    for (const Tier& t : catalog())
        if (declared.contains(t.key))
            out.append(t.key);
    return out;
}

PermUse usage(const QString& key, bool hasFocalCommand, const std::optional<QString>& progressError,
    const QList<ProgressLine>& progress)
{
    const auto kinds = evidenceKinds(key);
    if (!kinds)
        return PermUse::notExpressed();
    if (!hasFocalCommand)
        return PermUse::unknown(QStringLiteral("还没有可观察的命令"));
    if (progressError)
        return PermUse::unknown(QStringLiteral("进度读不到（") + *progressError + QStringLiteral("）"));
    if (progress.isEmpty())
        return PermUse::unknown(QStringLiteral("这一趟还没有进度记录"));
    for (const ProgressLine& line : progress)
        if (kinds->contains(line.kind))
            return PermUse::used();
    return PermUse::notSeen();
}

} // namespace perm
