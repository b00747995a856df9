#include "SimState.h"

#include "core/gateway/Json.h"

#include <QDateTime>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>

namespace {

const QString kCommands = QStringLiteral("commands");
const QString kFeed = QStringLiteral("feed");
const QString kProgress = QStringLiteral("progress");
const QString kChanges = QStringLiteral("changes");
const QString kPermissions = QStringLiteral("permissions");
const QString kStatus = QStringLiteral("status");
const QString kTaskId = QStringLiteral("task_id");

QString randomHex(int bytes)
{
    QByteArray raw(bytes, Qt::Uninitialized);
    for (char& c : raw)
        c = char(QRandomGenerator::global()->bounded(256));
    return QString::fromLatin1(raw.toHex());
}

SimReply notFound(const QString& what)
{
    return SimReply::error(404, what, QStringLiteral("not_found"));
}

bool isFailedItem(const QJsonObject& item)
{
    const QString category = item.value(QStringLiteral("category")).toString();
    return category == QLatin1String("failed")
        || (category == QLatin1String("approval")
            && item.value(QStringLiteral("outcome")).toString() == QLatin1String("failed"));
}

} // namespace

const QStringList& SimState::tiers()
{
    static const QStringList keys { QStringLiteral("read"), QStringLiteral("write"), QStringLiteral("exec"),
        QStringLiteral("web"), QStringLiteral("push"), QStringLiteral("danger") };
    return keys;
}

QJsonValue SimState::resolveTimes(const QJsonValue& value)
{
    static const QRegularExpression relative(QStringLiteral("^@now(?:([+-])(\\d{1,9}))?$"));
    if (value.isString()) {
        const auto m = relative.match(value.toString());
        if (!m.hasMatch())
            return value;
        qint64 seconds = m.captured(2).toLongLong();
        if (m.captured(1) == QLatin1String("-"))
            seconds = -seconds;
        return QDateTime::currentDateTimeUtc().addSecs(seconds).toString(Qt::ISODate);
    }
    if (value.isArray()) {
        QJsonArray out;
        for (const QJsonValue& v : value.toArray())
            out.append(resolveTimes(v));
        return out;
    }
    if (value.isObject()) {
        QJsonObject out;
        const QJsonObject in = value.toObject();
        for (auto it = in.begin(); it != in.end(); ++it)
            out.insert(it.key(), resolveTimes(it.value()));
        return out;
    }
    return value;
}

bool SimState::load(const QJsonObject& scenario, QString* error)
{
    const QJsonValue list = scenario.value(QStringLiteral("workspaces"));
    if (!list.isArray()) {
        *error = QStringLiteral("the scenario has no \"workspaces\" array");
        return false;
    }
    for (const QJsonValue& v : list.toArray()) {
        const QJsonObject ws = v.toObject();
        const QString id = ws.value(QStringLiteral("workspace")).toString();
        if (id.isEmpty() || !ws.value(QStringLiteral("token")).isString()) {
            *error = QStringLiteral("a workspace without a \"workspace\" id or a \"token\"");
            return false;
        }
        replace(id, ws);
    }
    return true;
}

QString SimState::token(const QString& ws) const
{
    return m_workspaces.value(ws).value(QStringLiteral("token")).toString();
}

void SimState::replace(const QString& ws, const QJsonObject& object)
{
    QJsonObject stored = resolveTimes(object).toObject();
    stored.insert(QStringLiteral("workspace"), ws);
    if (!m_workspaces.contains(ws))
        m_order.append(ws);
    m_workspaces.insert(ws, stored);
}

void SimState::merge(const QString& ws, const QJsonObject& object)
{
    QJsonObject stored = m_workspaces.value(ws);
    const QJsonObject resolved = resolveTimes(object).toObject();
    for (auto it = resolved.begin(); it != resolved.end(); ++it)
        stored.insert(it.key(), it.value());
    replace(ws, stored);
}

SimReply SimState::addWorkspace(const QJsonObject& body)
{
    const QString wanted = body.value(QStringLiteral("workspace")).toString();
    const QString path = body.value(QStringLiteral("path")).toString();
    const QString name = body.value(QStringLiteral("name")).toString();
    QString id = wanted;
    if (!id.isEmpty() && m_workspaces.contains(id)) {
        QJsonObject ws = m_workspaces.value(id);
        if (!path.isEmpty())
            ws.insert(QStringLiteral("path"), path);
        m_workspaces.insert(id, ws);
    } else {
        if (id.isEmpty())
            id = QStringLiteral("ws-") + randomHex(6);
        // A freshly paired folder: read is what pairing grants.
        QJsonObject ws {
            { QStringLiteral("token"), QStringLiteral("tok-") + randomHex(16) },
            { QStringLiteral("name"), name },
            { QStringLiteral("path"), path },
            { kCommands, QJsonArray {} },
            { QStringLiteral("runners"), QJsonArray {} },
            { QStringLiteral("runners_read"), true },
            { QStringLiteral("employees"), QJsonArray {} },
            { QStringLiteral("agents"), QJsonArray {} },
            { kFeed, QJsonArray {} },
            { kPermissions,
                QJsonObject { { QStringLiteral("effective"), QJsonObject { { QStringLiteral("read"), true } } },
                    { QStringLiteral("pending"), QJsonArray {} },
                    { QStringLiteral("ceiling"), QJsonArray { QStringLiteral("read") } } } },
        };
        replace(id, ws);
    }
    // The paired machine's agent service starts with the pairing: from now on
    // the workspace hears that device's heartbeat.
    const QString device = body.value(QStringLiteral("device")).toString();
    if (!device.isEmpty()) {
        QJsonObject ws = m_workspaces.value(id);
        QJsonArray runners { QJsonObject {
            { QStringLiteral("device_id"), device }, { QStringLiteral("seconds_ago"), 3 } } };
        for (const QJsonValue& r : ws.value(QStringLiteral("runners")).toArray()) {
            if (r.toObject().value(QStringLiteral("device_id")).toString() != device)
                runners.append(r);
        }
        ws.insert(QStringLiteral("runners"), runners);
        m_workspaces.insert(id, ws);
    }
    const QJsonObject ws = m_workspaces.value(id);
    return SimReply::json({ { QStringLiteral("workspace"), id },
        { QStringLiteral("token"), ws.value(QStringLiteral("token")).toString() },
        { QStringLiteral("name"), ws.value(QStringLiteral("name")).toString() } });
}

SimReply SimState::grant(const QString& ws, const QJsonObject& body)
{
    json::StrictReader r(body);
    const QStringList wanted = r.optionalStringList(QStringLiteral("tiers")).value_or(QStringList {});
    const QString device = r.string(QStringLiteral("device"));
    if (!r.ok())
        return SimReply::error(400, QStringLiteral("grant 的请求体不对：") + r.error(), QStringLiteral("bad_request"));
    for (const QString& t : wanted) {
        if (!tiers().contains(t))
            return SimReply::error(400, QStringLiteral("不认识的权限档：") + t, QStringLiteral("unknown_permission"));
    }
    QJsonObject stored = m_workspaces.value(ws);
    QJsonObject perms = stored.value(kPermissions).toObject();
    // The declaration names the whole desired set: what it leaves out is off.
    // The irreversible tier is only declared: it waits for a confirmation
    // unless it is on already.
    const QString danger = QStringLiteral("danger");
    QJsonObject effective = perms.value(QStringLiteral("effective")).toObject();
    const bool dangerWaits = wanted.contains(danger) && !effective.value(danger).toBool();
    for (const QString& t : tiers())
        effective.insert(t, wanted.contains(t) && !(t == danger && dangerWaits));
    QJsonArray pending;
    for (const QJsonValue& p : perms.value(QStringLiteral("pending")).toArray()) {
        if (!wanted.contains(p.toString()))
            pending.append(p);
    }
    if (dangerWaits)
        pending.append(danger);
    perms.insert(QStringLiteral("effective"), effective);
    perms.insert(QStringLiteral("pending"), pending);
    perms.insert(QStringLiteral("ceiling"), QJsonArray::fromStringList(wanted));
    if (!device.isEmpty())
        perms.insert(QStringLiteral("declared_by"), device);
    stored.insert(kPermissions, perms);
    m_workspaces.insert(ws, stored);
    return SimReply::ok();
}

SimReply SimState::pairStart(const QJsonObject& body) const
{
    json::StrictReader r(body);
    const QString device = r.requiredString(QStringLiteral("device_id"));
    const QJsonArray list = r.requiredArray(QStringLiteral("workspaces"));
    if (!r.ok() || device.isEmpty() || list.isEmpty())
        return SimReply::error(400, QStringLiteral("配对请求缺少设备或工作区"), QStringLiteral("bad_request"));
    for (const QJsonValue& v : list) {
        const QJsonObject entry = v.toObject();
        const QString ws = entry.value(QStringLiteral("workspace_uuid")).toString();
        const QJsonValue token = entry.value(QStringLiteral("access_token"));
        if (!m_workspaces.contains(ws) || !token.isString() || token.toString() != this->token(ws))
            return SimReply::error(403, QStringLiteral("工作区令牌不对"), QStringLiteral("bad_token"));
    }
    return SimReply::json({ { QStringLiteral("pair_token"), QStringLiteral("pt-") + randomHex(12) },
        { QStringLiteral("expires_at"), QDateTime::currentDateTimeUtc().addSecs(600).toString(Qt::ISODate) } });
}

SimReply SimState::commands(const QString& ws) const
{
    const QJsonObject stored = m_workspaces.value(ws);
    QJsonObject reply;
    for (const QString& key : { kCommands, QStringLiteral("runners"), QStringLiteral("runners_read") }) {
        if (stored.contains(key))
            reply.insert(key, stored.value(key));
    }
    return SimReply::json(reply);
}

int SimState::commandIndex(const QString& ws, const QString& id) const
{
    const QJsonArray list = m_workspaces.value(ws).value(kCommands).toArray();
    for (int i = 0; i < list.size(); ++i) {
        if (list.at(i).toObject().value(QStringLiteral("id")).toString() == id)
            return i;
    }
    return -1;
}

SimReply SimState::progress(const QString& ws, const QString& id, const QUrlQuery& query) const
{
    const QJsonObject all = m_workspaces.value(ws).value(kProgress).toObject();
    if (commandIndex(ws, id) < 0 && !all.contains(id))
        return notFound(QStringLiteral("没有这条命令"));
    qint64 limit = 200;
    if (query.hasQueryItem(QStringLiteral("limit"))) {
        bool ok = false;
        limit = query.queryItemValue(QStringLiteral("limit")).toLongLong(&ok);
        if (!ok || limit < 0)
            return SimReply::error(400, QStringLiteral("limit 不是非负整数"), QStringLiteral("bad_request"));
    }
    const QJsonArray lines = all.value(id).toArray();
    QJsonArray tail;
    const qsizetype from = std::max<qsizetype>(0, lines.size() - limit);
    for (qsizetype i = from; i < lines.size(); ++i)
        tail.append(lines.at(i));
    return SimReply::json({ { QStringLiteral("progress"), tail }, { QStringLiteral("total"), lines.size() },
        { QStringLiteral("truncated"), tail.size() < lines.size() } });
}

SimReply SimState::changes(const QString& ws, const QString& id) const
{
    const QJsonObject all = m_workspaces.value(ws).value(kChanges).toObject();
    if (all.contains(id))
        return SimReply { 200, QJsonDocument(all.value(id).toObject()).toJson(QJsonDocument::Compact) };
    if (commandIndex(ws, id) < 0)
        return notFound(QStringLiteral("没有这条命令"));
    return SimReply::json(
        { { QStringLiteral("has_changes"), false }, { QStringLiteral("changes_state"), QStringLiteral("none") } });
}

SimReply SimState::blob(const QString& ws, const QString& hash) const
{
    const QJsonObject blobs = m_workspaces.value(ws).value(QStringLiteral("blobs")).toObject();
    if (!blobs.contains(hash))
        return notFound(QStringLiteral("没有这份文件"));
    const QJsonValue v = blobs.value(hash);
    QByteArray bytes = v.isObject()
        ? QByteArray::fromBase64(v.toObject().value(QStringLiteral("base64")).toString().toLatin1())
        : v.toString().toUtf8();
    return SimReply { 200, bytes, "application/octet-stream" };
}

SimReply SimState::list(const QString& ws, const QString& stateKey, const QString& replyKey) const
{
    const QJsonObject stored = m_workspaces.value(ws);
    QJsonObject reply;
    if (stored.contains(stateKey))
        reply.insert(replyKey, stored.value(stateKey));
    return SimReply::json(reply);
}

SimReply SimState::permissions(const QString& ws) const
{
    const QJsonObject stored = m_workspaces.value(ws);
    if (!stored.value(kPermissions).isObject())
        return SimReply::error(409, QStringLiteral("这台设备还没有权限记录"), QStringLiteral("permissions_not_loaded"));
    QJsonObject perms = stored.value(kPermissions).toObject();
    perms.remove(QStringLiteral("ceiling"));
    perms.remove(QStringLiteral("declared_by"));
    return SimReply::json(perms);
}

SimReply SimState::confirm(const QString& ws, const QString& tier, const QJsonObject& body)
{
    json::StrictReader r(body);
    const bool approve = r.requiredBool(QStringLiteral("approve"));
    r.requiredString(QStringLiteral("by"));
    if (!r.ok())
        return SimReply::error(
            400, QStringLiteral("确认请求的请求体不对：") + r.error(), QStringLiteral("bad_request"));
    if (!tiers().contains(tier))
        return SimReply::error(404, QStringLiteral("没有这一档权限：") + tier, QStringLiteral("unknown_permission"));
    QJsonObject stored = m_workspaces.value(ws);
    if (!stored.value(kPermissions).isObject())
        return SimReply::error(409, QStringLiteral("这台设备还没有权限记录"), QStringLiteral("permissions_not_loaded"));
    QJsonObject perms = stored.value(kPermissions).toObject();
    const QJsonArray ceiling = perms.value(QStringLiteral("ceiling")).toArray();
    if (approve && !ceiling.contains(QJsonValue(tier)))
        return SimReply::error(
            403, QStringLiteral("本机没有声明允许这一档：") + tier, QStringLiteral("grant_exceeds_source"));
    QJsonObject effective = perms.value(QStringLiteral("effective")).toObject();
    effective.insert(tier, approve);
    QJsonArray pending;
    for (const QJsonValue& p : perms.value(QStringLiteral("pending")).toArray()) {
        if (p.toString() != tier)
            pending.append(p);
    }
    perms.insert(QStringLiteral("effective"), effective);
    perms.insert(QStringLiteral("pending"), pending);
    stored.insert(kPermissions, perms);
    m_workspaces.insert(ws, stored);
    return SimReply::ok();
}

SimReply SimState::act(const QString& ws, const QString& feedId, const QJsonObject& body)
{
    json::StrictReader r(body);
    const QString action = r.requiredString(QStringLiteral("action"));
    r.requiredString(QStringLiteral("note"));
    const QString by = r.requiredString(QStringLiteral("by"));
    if (!r.ok())
        return SimReply::error(
            400, QStringLiteral("处理请求的请求体不对：") + r.error(), QStringLiteral("bad_request"));
    if (action != QLatin1String("continue") && action != QLatin1String("ignore"))
        return SimReply::error(400, QStringLiteral("不认识的动作：") + action, QStringLiteral("unknown_action"));

    QJsonObject stored = m_workspaces.value(ws);
    QJsonArray feed = stored.value(kFeed).toArray();
    int index = -1;
    for (int i = 0; i < feed.size(); ++i) {
        if (feed.at(i).toObject().value(QStringLiteral("id")).toString() == feedId) {
            index = i;
            break;
        }
    }
    if (index < 0)
        return notFound(QStringLiteral("没有这条待办"));
    QJsonObject item = feed.at(index).toObject();
    const QJsonValue status = item.value(kStatus);
    if (!status.isUndefined() && !status.isNull() && status.toString() != QLatin1String("pending"))
        return SimReply::error(409, QStringLiteral("这条已经处理过了"), QStringLiteral("already_decided"));

    const bool go = action == QLatin1String("continue");
    item.insert(kStatus, go ? QStringLiteral("approved") : QStringLiteral("ignored"));
    item.insert(QStringLiteral("decided_by"), by);
    feed.replace(index, item);
    stored.insert(kFeed, feed);

    // An approval releases or stops the command that waits for it.
    const QString taskId = item.value(kTaskId).toString();
    if (item.value(QStringLiteral("category")).toString() == QLatin1String("approval") && !taskId.isEmpty()) {
        QJsonArray commands = stored.value(kCommands).toArray();
        for (int i = 0; i < commands.size(); ++i) {
            QJsonObject c = commands.at(i).toObject();
            if (c.value(QStringLiteral("id")).toString() != taskId
                || c.value(kStatus).toString() != QLatin1String("waiting_approval"))
                continue;
            if (go) {
                c.insert(kStatus, QStringLiteral("pending"));
            } else {
                c.insert(kStatus, QStringLiteral("failed"));
                c.insert(QStringLiteral("error"), QStringLiteral("审批没有通过"));
                c.insert(QStringLiteral("completed_at"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
            }
            commands.replace(i, c);
        }
        stored.insert(kCommands, commands);
    }
    m_workspaces.insert(ws, stored);
    return SimReply::ok();
}

SimReply SimState::retry(const QString& ws, const QString& id)
{
    const int index = commandIndex(ws, id);
    if (index < 0)
        return notFound(QStringLiteral("没有这条命令"));
    QJsonObject stored = m_workspaces.value(ws);
    QJsonArray commands = stored.value(kCommands).toArray();
    QJsonObject c = commands.at(index).toObject();
    static const QStringList retryable { QStringLiteral("failed"), QStringLiteral("unsupported"),
        QStringLiteral("dependency_failed"), QStringLiteral("runtime_unavailable") };
    if (!retryable.contains(c.value(kStatus).toString()))
        return SimReply::error(409, QStringLiteral("只有失败的任务能重试"), QStringLiteral("not_retryable"));

    QSet<QString> done;
    for (const QJsonValue& v : commands) {
        const QJsonObject o = v.toObject();
        if (o.value(kStatus).toString() == QLatin1String("done"))
            done.insert(o.value(QStringLiteral("id")).toString());
    }
    bool waits = false;
    for (const QJsonValue& d : c.value(QStringLiteral("depends_on")).toArray())
        waits = waits || !done.contains(d.toString());
    c.insert(kStatus, waits ? QStringLiteral("blocked") : QStringLiteral("pending"));
    for (const char* key :
        { "claimed_by", "claimed_at", "completed_at", "error", "summary", "verdict", "execution_id", "files_touched" })
        c.remove(QLatin1String(key));
    commands.replace(index, c);

    // Dependants that gave up because of this one wait for it again.
    for (int i = 0; i < commands.size(); ++i) {
        QJsonObject o = commands.at(i).toObject();
        if (o.value(kStatus).toString() == QLatin1String("dependency_failed")
            && o.value(QStringLiteral("depends_on")).toArray().contains(QJsonValue(id))) {
            o.insert(kStatus, QStringLiteral("blocked"));
            o.remove(QStringLiteral("error"));
            o.remove(QStringLiteral("completed_at"));
            commands.replace(i, o);
        }
    }
    stored.insert(kCommands, commands);

    QJsonArray feed;
    for (const QJsonValue& v : stored.value(kFeed).toArray()) {
        const QJsonObject item = v.toObject();
        if (!(item.value(kTaskId).toString() == id && isFailedItem(item)))
            feed.append(v);
    }
    stored.insert(kFeed, feed);
    m_workspaces.insert(ws, stored);
    return SimReply::ok();
}

SimReply SimState::remove(const QString& ws, const QString& id)
{
    const int index = commandIndex(ws, id);
    if (index < 0)
        return notFound(QStringLiteral("没有这条命令"));
    QJsonObject stored = m_workspaces.value(ws);
    QJsonArray commands = stored.value(kCommands).toArray();
    commands.removeAt(index);
    stored.insert(kCommands, commands);
    QJsonArray feed;
    for (const QJsonValue& v : stored.value(kFeed).toArray()) {
        if (v.toObject().value(kTaskId).toString() != id)
            feed.append(v);
    }
    stored.insert(kFeed, feed);
    for (const QString& key : { kProgress, kChanges }) {
        QJsonObject byCommand = stored.value(key).toObject();
        byCommand.remove(id);
        if (stored.contains(key))
            stored.insert(key, byCommand);
    }
    m_workspaces.insert(ws, stored);
    return SimReply::ok();
}

void SimState::tick(qint64 elapsedMs)
{
    for (const QString& ws : std::as_const(m_order)) {
        const QJsonObject scripts = m_workspaces.value(ws).value(QStringLiteral("advance")).toObject();
        for (auto it = scripts.begin(); it != scripts.end(); ++it) {
            const QJsonObject script = it.value().toObject();
            const QJsonArray steps = script.value(QStringLiteral("steps")).toArray();
            const qint64 every = script.value(QStringLiteral("every_ms")).toInteger(4000);
            const bool repeat = script.value(QStringLiteral("repeat")).toBool();
            if (steps.isEmpty() || every <= 0)
                continue;
            const QString key = ws + QLatin1Char('/') + it.key();
            qint64& applied = m_applied[key];
            while ((applied + 1) * every <= elapsedMs && (repeat || applied < steps.size())) {
                // A command that stopped running (retried, deleted, edited) is left alone.
                const int index = commandIndex(ws, it.key());
                const QJsonArray commands = m_workspaces.value(ws).value(kCommands).toArray();
                if (index < 0 || commands.at(index).toObject().value(kStatus).toString() != QLatin1String("claimed"))
                    break;
                applyStep(ws, it.key(), steps.at(int(applied % steps.size())).toObject());
                ++applied;
            }
        }
    }
}

void SimState::applyStep(const QString& ws, const QString& id, const QJsonObject& step)
{
    QJsonObject stored = m_workspaces.value(ws);

    if (step.value(kProgress).isObject()) {
        QJsonObject all = stored.value(kProgress).toObject();
        QJsonArray lines = all.value(id).toArray();
        qint64 seq = 0;
        for (const QJsonValue& v : std::as_const(lines))
            seq = std::max<qint64>(seq, v.toObject().value(QStringLiteral("seq")).toInteger());
        QJsonObject line = step.value(kProgress).toObject();
        line.insert(QStringLiteral("seq"), seq + 1);
        line.insert(QStringLiteral("at"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
        lines.append(line);
        all.insert(id, lines);
        stored.insert(kProgress, all);
    }

    if (step.value(QStringLiteral("file")).isObject()) {
        // The file joins (or replaces its entry in) the change set; the totals follow the files.
        const QJsonObject file = step.value(QStringLiteral("file")).toObject();
        const QString path = file.value(QStringLiteral("path")).toString();
        QJsonObject all = stored.value(kChanges).toObject();
        QJsonObject reply = all.value(id).toObject();
        QJsonObject changes = reply.value(kChanges).toObject();
        QJsonArray files;
        bool replaced = false;
        for (const QJsonValue& v : changes.value(QStringLiteral("files")).toArray()) {
            if (v.toObject().value(QStringLiteral("path")).toString() == path) {
                files.append(file);
                replaced = true;
            } else {
                files.append(v);
            }
        }
        if (!replaced)
            files.append(file);
        qint64 added = 0;
        qint64 deleted = 0;
        for (const QJsonValue& v : std::as_const(files)) {
            added += v.toObject().value(QStringLiteral("added")).toInteger();
            deleted += v.toObject().value(QStringLiteral("deleted")).toInteger();
        }
        changes.insert(QStringLiteral("files"), files);
        changes.insert(QStringLiteral("added"), added);
        changes.insert(QStringLiteral("deleted"), deleted);
        reply.insert(QStringLiteral("has_changes"), true);
        reply.insert(kChanges, changes);
        all.insert(id, reply);
        stored.insert(kChanges, all);
    }

    if (step.value(QStringLiteral("blobs")).isObject()) {
        QJsonObject blobs = stored.value(QStringLiteral("blobs")).toObject();
        const QJsonObject added = step.value(QStringLiteral("blobs")).toObject();
        for (auto it = added.begin(); it != added.end(); ++it)
            blobs.insert(it.key(), it.value());
        stored.insert(QStringLiteral("blobs"), blobs);
    }

    m_workspaces.insert(ws, stored);
}
