#include "core/gateway/Replies.h"

#include "core/gateway/GatewayTime.h"
#include "core/gateway/Json.h"
#include "core/platform/DisplayText.h"

#include <QCoroFuture>
#include <QHash>
#include <QtConcurrent/QtConcurrentRun>

#include <QJsonArray>
#include <QJsonObject>
#include <algorithm>

namespace replies {
namespace {

Failure malformed(const QString& where)
{
    // `where` may hold a key the gateway chose.
    return Failure::decoding(QStringLiteral("网关的回复格式不对（") + DisplayText::name(where) + QStringLiteral("）"));
}

QString at(const QString& list, qsizetype index, const QString& key)
{
    return list + QLatin1Char('[') + QString::number(index) + QStringLiteral("].") + key;
}

std::optional<QJsonObject> topObject(const QByteArray& body)
{
    return json::parseObject(body);
}

// A timestamp key: when present it must be a string; a string that is not a
// gateway timestamp reads as none.
std::optional<QDateTime> timestamp(json::StrictReader& r, const QString& key)
{
    return GatewayTime::parse(r.optionalString(key));
}

} // namespace

namespace {

// The command reply's top level, before its records are read.
struct CommandsHead {
    QJsonArray commands;
    QJsonArray runners;
    bool runnersRead = false;
};

Result<CommandsHead> commandsHead(const QByteArray& body)
{
    const auto top = topObject(body);
    if (!top)
        return malformed(QStringLiteral("不是 JSON 对象"));
    json::StrictReader r(*top);
    CommandsHead head;
    head.commands = r.optionalArray(QStringLiteral("commands")).value_or(QJsonArray());
    head.runners = r.optionalArray(QStringLiteral("runners")).value_or(QJsonArray());
    head.runnersRead = r.optionalBool(QStringLiteral("runners_read")).value_or(false);
    if (!r.ok())
        return malformed(r.error());
    return head;
}

// Records [from, to) of the command list.
// `base` is the first record's index in the whole list, for messages.
Result<QList<CommandBrief>> commandRange(const QJsonArray& commands, qsizetype from, qsizetype to, qsizetype base = 0)
{
    QList<CommandBrief> out;
    out.reserve(to - from);
    for (qsizetype i = from; i < to; ++i) {
        const QJsonValue value = commands[i];
        if (!value.isObject())
            return malformed(QStringLiteral("commands[%1]").arg(base + i));
        json::StrictReader c(value.toObject());
        CommandBrief b;
        b.id = c.requiredString(QStringLiteral("id"));
        b.text = DisplayText::text(c.requiredString(QStringLiteral("text")));
        b.status = DisplayText::name(c.requiredString(QStringLiteral("status")));
        b.claimedBy = DisplayText::name(c.string(QStringLiteral("claimed_by")));
        b.summary = DisplayText::text(c.string(QStringLiteral("summary")));
        b.error = DisplayText::text(c.string(QStringLiteral("error")));
        b.issuedAt = timestamp(c, QStringLiteral("issued_at"));
        b.completedAt = timestamp(c, QStringLiteral("completed_at"));
        b.filesTouched = c.optionalBool(QStringLiteral("files_touched"));
        b.employeeID = c.string(QStringLiteral("employee_id"));
        b.dependsOn = c.stringList(QStringLiteral("depends_on"));
        b.ranRuntime = DisplayText::name(c.string(QStringLiteral("ran_runtime")));
        b.executionID = c.string(QStringLiteral("execution_id"));
        b.claimedAt = timestamp(c, QStringLiteral("claimed_at"));
        b.verdict = DisplayText::name(c.string(QStringLiteral("verdict")));
        if (!c.ok())
            return malformed(at(QStringLiteral("commands"), base + i, c.error()));
        out.append(std::move(b));
    }
    return out;
}

Result<QList<RunnerInfo>> runnerList(const QJsonArray& runners)
{
    QList<RunnerInfo> out;
    out.reserve(runners.size());
    for (qsizetype i = 0; i < runners.size(); ++i) {
        if (!runners[i].isObject())
            return malformed(QStringLiteral("runners[%1]").arg(i));
        json::StrictReader rr(runners[i].toObject());
        RunnerInfo info;
        info.deviceID = DisplayText::name(rr.requiredString(QStringLiteral("device_id")));
        info.secondsAgo = rr.requiredInt(QStringLiteral("seconds_ago"));
        if (!rr.ok())
            return malformed(at(QStringLiteral("runners"), i, rr.error()));
        out.append(info);
    }
    return out;
}

Result<Commands> assemble(const CommandsHead& head, QList<CommandBrief> commands)
{
    Result<QList<RunnerInfo>> runners = runnerList(head.runners);
    if (!runners)
        return runners.failure();
    Commands out;
    out.commands = std::move(commands);
    out.runners = std::move(*runners);
    out.runnersRead = head.runnersRead;
    return out;
}

} // namespace

QThreadPool* decodePool()
{
    return QThreadPool::globalInstance();
}

Result<Commands> decodeCommands(const QByteArray& body)
{
    const Result<CommandsHead> head = commandsHead(body);
    if (!head)
        return head.failure();
    Result<QList<CommandBrief>> commands = commandRange(head->commands, 0, head->commands.size());
    if (!commands)
        return commands.failure();
    return assemble(*head, std::move(*commands));
}

namespace {

// Walks JSON text already known to parse, or whose parts are parsed after.
struct Scan {
    QByteArrayView json;
    qsizetype i = 0;

    bool at(char c) const { return i < json.size() && json[i] == c; }
    void space()
    {
        while (i < json.size() && (json[i] == ' ' || json[i] == '\t' || json[i] == '\n' || json[i] == '\r'))
            ++i;
    }
    // Past a string whose opening quote is at i; whether it held an escape.
    bool string()
    {
        bool escaped = false;
        for (++i; i < json.size() && json[i] != '"'; ++i) {
            if (json[i] == '\\') {
                escaped = true;
                ++i;
            }
        }
        ++i;
        return escaped;
    }
    // Past the value at i: a string, an object or array with everything in
    // it, else up to the next separator.
    void value()
    {
        int depth = 0;
        while (i < json.size()) {
            const char c = json[i];
            if (c == '"') {
                string();
                if (depth == 0)
                    return;
                continue;
            }
            if (c == '{' || c == '[') {
                ++depth;
            } else if (c == '}' || c == ']') {
                if (depth == 0)
                    return;
                if (--depth == 0) {
                    ++i;
                    return;
                }
            } else if (depth == 0 && (c == ',' || c == ':' || c == ' ' || c == '\t' || c == '\n' || c == '\r')) {
                return;
            }
            ++i;
        }
    }
};

using Span = std::pair<qsizetype, qsizetype>;

// The elements of the array `list` spans in `json`, each a value followed by
// only white space and one comma before the next; none for anything else
// (the reply is then read whole, which names what is wrong).
std::optional<QList<Span>> elementsOf(QByteArrayView json, Span list)
{
    Scan s { json.sliced(list.first, list.second) };
    if (!s.at('['))
        return std::nullopt;
    ++s.i;
    s.space();
    QList<Span> out;
    if (s.at(']')) {
        ++s.i;
        return s.i == s.json.size() ? std::optional(out) : std::nullopt;
    }
    for (;;) {
        const qsizetype start = s.i;
        s.value();
        if (s.i <= start || s.i > s.json.size())
            return std::nullopt;
        out.append({ list.first + start, s.i - start });
        s.space();
        if (s.at(']')) {
            ++s.i;
            return s.i == s.json.size() ? std::optional(out) : std::nullopt;
        }
        if (!s.at(','))
            return std::nullopt;
        ++s.i;
        s.space();
        if (s.at(']') || s.at(','))
            return std::nullopt;
    }
}

} // namespace

std::optional<std::pair<qsizetype, qsizetype>> topLevelValue(QByteArrayView json, QByteArrayView key)
{
    Scan s { json };
    std::optional<Span> found;
    s.space();
    if (!s.at('{'))
        return std::nullopt;
    ++s.i;
    for (;;) {
        s.space();
        if (!s.at('"'))
            return found;
        const qsizetype keyStart = s.i + 1;
        if (s.string() || s.i > json.size())
            return std::nullopt;
        const QByteArrayView name = json.sliced(keyStart, s.i - 1 - keyStart);
        s.space();
        if (!s.at(':'))
            return std::nullopt;
        ++s.i;
        s.space();
        const qsizetype start = s.i;
        s.value();
        if (s.i <= start || s.i > json.size())
            return std::nullopt;
        if (name == key) {
            if (found)
                return std::nullopt;
            found = Span { start, s.i - start };
        }
        s.space();
        if (s.at(','))
            ++s.i;
    }
}

QCoro::Task<Result<CommandsReading>> decodeCommandsOn(QThreadPool* pool, QByteArray body, CommandsReading previous)
{
    // The list's records are parsed in parts on the pool, each part from its
    // own stretch of the text, and only when the list is not the one read
    // last time; the rest of the reply is read here. A reply whose list
    // cannot be cut into records is read whole, as one.
    const std::optional<Span> list = topLevelValue(body, "commands");
    const std::optional<QList<Span>> records = list ? elementsOf(body, *list) : std::nullopt;
    Result<CommandsHead> head = malformed(QString());
    if (records) {
        const QByteArrayView whole(body);
        head = commandsHead(
            whole.first(list->first).toByteArray() + "[]" + whole.sliced(list->first + list->second).toByteArray());
    }
    const bool cut = records && head;
    if (!cut) {
        head = commandsHead(body);
        if (!head)
            co_return head.failure();
    }
    const auto readingOf = [&](Result<Commands> read) -> Result<CommandsReading> {
        if (!read)
            return read.failure();
        return CommandsReading { std::move(read.value()), body, cut ? list : std::nullopt };
    };
    if (cut && previous.list && previous.listBytes() == QByteArrayView(body).sliced(list->first, list->second))
        co_return readingOf(assemble(*head, previous.commands.commands));
    previous = {};
    // Parts of a few hundred records, parsed and read side by side: what a
    // part parses is let go before the thread takes the next part, so a
    // longer list takes more parts, not more memory at once.
    const qsizetype n = cut ? records->size() : head->commands.size();
    const qsizetype parts = cut ? std::max<qsizetype>(1, n / 250)
                                : std::clamp<qsizetype>(n / 250, 1, std::max(1, pool->maxThreadCount()));
    const auto from = [n, parts](qsizetype k) { return n * k / parts; };
    // A part that does not parse has no records (and the reply is not JSON).
    using Part = std::optional<Result<QList<CommandBrief>>>;
    QList<QFuture<Part>> reading;
    for (qsizetype k = 0; k < parts; ++k) {
        const qsizetype first = from(k);
        const qsizetype end = from(k + 1);
        if (!cut) {
            reading.append(QtConcurrent::run(pool,
                [commands = head->commands, first, end]() -> Part { return commandRange(commands, first, end); }));
        } else if (first == end) {
            reading.append(QtFuture::makeReadyFuture(Part(QList<CommandBrief>())));
        } else {
            const qsizetype textFrom = records->at(first).first;
            const qsizetype textTo = records->at(end - 1).first + records->at(end - 1).second;
            reading.append(QtConcurrent::run(pool, [body, textFrom, textTo, first, end]() -> Part {
                const std::optional<QJsonArray> array = json::parseArray(
                    '[' + QByteArrayView(body).sliced(textFrom, textTo - textFrom).toByteArray() + ']');
                if (!array || array->size() != end - first)
                    return std::nullopt;
                return commandRange(*array, 0, end - first, first);
            }));
        }
    }
    QList<CommandBrief> commands;
    commands.reserve(n);
    // A part that does not parse makes the whole reply not JSON; else the
    // first part that fails names the first record that does, as the
    // one-pass reading would.
    std::optional<Failure> failed;
    bool parsed = true;
    for (QFuture<Part>& part : reading) {
        Part read = co_await part;
        if (!read) {
            parsed = false;
        } else if (!failed && !*read) {
            failed = read->failure();
        } else if (!failed) {
            commands.append(std::move(read->value()));
        }
    }
    if (!parsed)
        co_return malformed(QStringLiteral("不是 JSON 对象"));
    if (failed)
        co_return *failed;
    co_return readingOf(assemble(*head, std::move(commands)));
}

Result<Progress> decodeProgress(const QByteArray& body, bool progressRequired)
{
    const auto top = topObject(body);
    if (!top)
        return malformed(QStringLiteral("不是 JSON 对象"));
    json::StrictReader r(*top);
    const QJsonArray entries = progressRequired ? r.requiredArray(QStringLiteral("progress"))
                                                : r.optionalArray(QStringLiteral("progress")).value_or(QJsonArray());
    Progress out;
    if (progressRequired) {
        r.optionalInt(QStringLiteral("total"));
        out.truncated = r.optionalBool(QStringLiteral("truncated")).value_or(false);
    }
    if (!r.ok())
        return malformed(r.error());
    out.lines.reserve(entries.size());
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (!entries[i].isObject())
            return malformed(QStringLiteral("progress[%1]").arg(i));
        json::StrictReader e(entries[i].toObject());
        ProgressLine line;
        line.seq = e.requiredInt(QStringLiteral("seq"));
        line.kind = DisplayText::name(e.string(QStringLiteral("kind"), QStringLiteral("other")));
        line.action = DisplayText::text(e.requiredString(QStringLiteral("action")));
        line.detail = DisplayText::text(e.string(QStringLiteral("detail")));
        line.at = timestamp(e, QStringLiteral("at"));
        if (!e.ok())
            return malformed(at(QStringLiteral("progress"), i, e.error()));
        out.lines.append(std::move(line));
    }
    return out;
}

Result<Permissions> decodePermissions(const QByteArray& body)
{
    const auto top = topObject(body);
    if (!top)
        return malformed(QStringLiteral("不是 JSON 对象"));
    json::StrictReader r(*top);
    const QJsonObject effective = r.requiredObject(QStringLiteral("effective"));
    const QStringList pending = r.stringList(QStringLiteral("pending"));
    if (!r.ok())
        return malformed(r.error());
    Permissions out;
    for (auto it = effective.constBegin(); it != effective.constEnd(); ++it) {
        if (!it->isBool())
            return malformed(QStringLiteral("effective.") + it.key());
        out.effective.insert(it.key(), it->toBool());
    }
    out.pending = pending;
    return out;
}

Result<QList<TeammateBrief>> decodeEmployees(const QByteArray& body)
{
    const auto top = topObject(body);
    if (!top)
        return malformed(QStringLiteral("不是 JSON 对象"));
    json::StrictReader r(*top);
    const QJsonArray employees = r.optionalArray(QStringLiteral("employees")).value_or(QJsonArray());
    if (!r.ok())
        return malformed(r.error());

    QList<TeammateBrief> team;
    team.reserve(employees.size());
    const QString list = QStringLiteral("employees");
    for (qsizetype i = 0; i < employees.size(); ++i) {
        if (!employees[i].isObject())
            return malformed(QStringLiteral("employees[%1]").arg(i));
        json::StrictReader e(employees[i].toObject());
        TeammateBrief t;
        t.id = e.requiredString(QStringLiteral("id"));
        t.name = DisplayText::name(e.requiredString(QStringLiteral("name")));
        t.status = DisplayText::name(e.requiredString(QStringLiteral("status")));
        t.device = DisplayText::name(e.string(QStringLiteral("device_id")));
        const QJsonObject tmpl = e.requiredObject(QStringLiteral("template"));
        t.deviceTask = DisplayText::text(e.string(QStringLiteral("device_current_task")));
        t.deviceTaskID = e.string(QStringLiteral("device_current_task_id"));
        t.deviceAlive = e.optionalBool(QStringLiteral("device_alive"));
        t.deviceSecondsAgo = e.optionalInt(QStringLiteral("device_seconds_ago"));
        t.deviceRuntime = DisplayText::name(e.string(QStringLiteral("device_runtime")));
        t.runtimeFit = DisplayText::name(e.string(QStringLiteral("runtime_fit")));
        t.deviceTier = DisplayText::name(e.string(QStringLiteral("device_tier")));
        t.doneTodayOnDevice = e.integer(QStringLiteral("done_today_on_device"));
        if (!e.ok())
            return malformed(at(list, i, e.error()));

        json::StrictReader tr(tmpl);
        const QString name = DisplayText::name(tr.requiredString(QStringLiteral("name")));
        const QString role = DisplayText::name(tr.requiredString(QStringLiteral("role")));
        const QJsonArray skills = tr.optionalArray(QStringLiteral("skills")).value_or(QJsonArray());
        if (!tr.ok())
            return malformed(at(list, i, QStringLiteral("template.") + tr.error()));
        for (qsizetype k = 0; k < skills.size(); ++k) {
            if (!skills[k].isObject())
                return malformed(at(list, i, QStringLiteral("template.skills[%1]").arg(k)));
            json::StrictReader sr(skills[k].toObject());
            sr.requiredString(QStringLiteral("id"));
            const QString label = DisplayText::name(sr.requiredString(QStringLiteral("label")));
            if (!sr.ok())
                return malformed(at(list, i, QStringLiteral("template.skills[%1].").arg(k) + sr.error()));
            t.skills.append(label);
        }
        t.templateKey = name;
        t.templateName = templateNameZH(name);
        t.roleTitle = role;
        t.role = t.templateName + QStringLiteral(" · ") + role;
        team.append(std::move(t));
    }
    return team;
}

Result<QList<AgentEntry>> decodeAgents(const QByteArray& body)
{
    const auto top = topObject(body);
    if (!top)
        return malformed(QStringLiteral("不是 JSON 对象"));
    json::StrictReader r(*top);
    const QJsonArray agents = r.optionalArray(QStringLiteral("agents")).value_or(QJsonArray());
    if (!r.ok())
        return malformed(r.error());
    QList<AgentEntry> out;
    out.reserve(agents.size());
    for (qsizetype i = 0; i < agents.size(); ++i) {
        if (!agents[i].isObject())
            return malformed(QStringLiteral("agents[%1]").arg(i));
        json::StrictReader a(agents[i].toObject());
        AgentEntry entry { DisplayText::shown(a.optionalString(QStringLiteral("device")), DisplayText::name),
            DisplayText::shown(a.optionalString(QStringLiteral("runtime")), DisplayText::name) };
        if (!a.ok())
            return malformed(at(QStringLiteral("agents"), i, a.error()));
        out.append(std::move(entry));
    }
    return out;
}

Result<QList<FeedItem>> decodeFeed(const QByteArray& body)
{
    QList<FeedItem> out;
    const Result<> read = readFeed(body, [&out](FeedItem&& item) { out.append(std::move(item)); });
    if (!read)
        return read.failure();
    return out;
}

Result<> readFeed(const QByteArray& body, const std::function<void(FeedItem&&)>& take)
{
    const auto top = topObject(body);
    if (!top)
        return malformed(QStringLiteral("不是 JSON 对象"));
    json::StrictReader r(*top);
    const QJsonArray items = r.optionalArray(QStringLiteral("items")).value_or(QJsonArray());
    if (!r.ok())
        return malformed(r.error());
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (!items[i].isObject())
            return malformed(QStringLiteral("items[%1]").arg(i));
        json::StrictReader f(items[i].toObject());
        FeedItem item;
        item.id = f.optionalString(QStringLiteral("id"));
        item.taskID = f.optionalString(QStringLiteral("task_id"));
        item.category = DisplayText::shown(f.optionalString(QStringLiteral("category")), DisplayText::name);
        item.title = DisplayText::shown(f.optionalString(QStringLiteral("title")), DisplayText::text);
        item.subtitle = DisplayText::shown(f.optionalString(QStringLiteral("subtitle")), DisplayText::text);
        item.command = DisplayText::shown(f.optionalString(QStringLiteral("command")), DisplayText::text);
        item.status = DisplayText::shown(f.optionalString(QStringLiteral("status")), DisplayText::name);
        item.originDevice = DisplayText::shown(f.optionalString(QStringLiteral("origin_device")), DisplayText::name);
        item.outcome = DisplayText::shown(f.optionalString(QStringLiteral("outcome")), DisplayText::text);
        if (!f.ok())
            return malformed(at(QStringLiteral("items"), i, f.error()));
        take(std::move(item));
    }
    return {};
}

QString templateNameZH(const QString& name)
{
    static const QHash<QString, QString> titles {
        { QStringLiteral("AI Full-Stack Engineer"), QStringLiteral("AI 全栈工程师") },
        { QStringLiteral("AI Full-stack Developer"), QStringLiteral("AI 全栈工程师") },
        { QStringLiteral("AI Developer"), QStringLiteral("AI 全栈工程师") },
        { QStringLiteral("AI Deep Researcher"), QStringLiteral("AI 深度研究员") },
        { QStringLiteral("AI Researcher"), QStringLiteral("AI 深度研究员") },
        { QStringLiteral("AI DevOps & Security Engineer"), QStringLiteral("AI 运维安全工程师") },
        { QStringLiteral("AI Security Officer"), QStringLiteral("AI 运维安全工程师") },
        { QStringLiteral("AI SRE / DevOps"), QStringLiteral("AI 运维安全工程师") },
        { QStringLiteral("AI Investment Analyst"), QStringLiteral("AI 投资分析师") },
        { QStringLiteral("AI Finance Analyst"), QStringLiteral("AI 投资分析师") },
        { QStringLiteral("AI Assistant"), QStringLiteral("AI 助理") },
        { QStringLiteral("AI Lawyer"), QStringLiteral("AI 法律顾问") },
        { QStringLiteral("AI Sales"), QStringLiteral("AI 销售顾问") },
        { QStringLiteral("AI Customer Service"), QStringLiteral("AI 客服专员") },
    };
    return titles.value(name, name);
}

} // namespace replies
