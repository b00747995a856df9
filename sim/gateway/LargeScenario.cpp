#include "LargeScenario.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <functional>

namespace LargeScenario {

namespace {

constexpr int kDevices = 20;
constexpr int kProgress = 200;

const char* const kTemplates[] = { "AI Full-Stack Engineer", "AI Deep Researcher", "AI DevOps & Security Engineer",
    "AI Assistant", "AI Customer Service", "AI Developer" };
const char* const kRuntimes[] = { "claude-code", "codex", "gemini-cli", "qwen-code" };
const char* const kStatuses[] = { "done", "done", "done", "failed", "pending", "blocked", "dependency_failed",
    "waiting_approval", "done", "unsupported" };
const char* const kKinds[] = { "read", "edit", "test", "test_pass", "other", "test_fail" };

QString device(int i)
{
    return QStringLiteral("dev-%1").arg(i % kDevices, 2, 10, QLatin1Char('0'));
}
QString employee(int i, int count)
{
    return QStringLiteral("emp-%1").arg(i % count, 3, 10, QLatin1Char('0'));
}
QString command(int i)
{
    return QStringLiteral("cmd-%1").arg(i, 4, 10, QLatin1Char('0'));
}
QString at(int secondsAgo)
{
    return QStringLiteral("@now-%1").arg(secondsAgo);
}

} // namespace

std::optional<Shape> Shape::parse(const QString& text, QString* error)
{
    Shape shape;
    for (const QString& pair : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const qsizetype eq = pair.indexOf(QLatin1Char('='));
        bool ok = false;
        const qint64 value = eq > 0 ? pair.mid(eq + 1).toLongLong(&ok) : 0;
        const QString key = pair.left(eq);
        const struct {
            const char* key;
            qint64 max;
            std::function<void(qint64)> set;
        } fields[] = {
            { "commands", 1000000, [&](qint64 v) { shape.commands = int(v); } },
            { "running-every", 1000000, [&](qint64 v) { shape.runningEvery = int(std::max<qint64>(1, v)); } },
            { "advance", 1, [&](qint64 v) { shape.advance = v != 0; } },
            { "employees", 100000, [&](qint64 v) { shape.employees = int(v); } },
            { "feed", 1000000, [&](qint64 v) { shape.feed = int(v); } },
            { "approvals-only", 1, [&](qint64 v) { shape.approvalsOnly = v != 0; } },
            { "workspaces", 100000, [&](qint64 v) { shape.moreWorkspaces = int(std::max<qint64>(0, v - 1)); } },
            { "one-line-bytes", qint64(1) << 30, [&](qint64 v) { shape.oneLineBytes = v; } },
        };
        const auto field = std::find_if(
            std::begin(fields), std::end(fields), [&](const auto& f) { return key == QLatin1String(f.key); });
        if (!ok || value < 0 || field == std::end(fields) || value > field->max) {
            if (error)
                *error = QStringLiteral("bad shape entry \"%1\"").arg(pair);
            return std::nullopt;
        }
        field->set(value);
    }
    return shape;
}

QByteArray generate(const Shape& shape)
{
    const int commandCount = shape.commands;
    QJsonArray commands;
    QJsonObject advance;
    for (int i = 0; i < commandCount; ++i) {
        // One command in forty (the shape's `runningEvery`) runs; the last of them is the one followed.
        const bool running = i % shape.runningEvery == shape.runningEvery * 3 / 4;
        const QString status = running ? QStringLiteral("claimed") : QString::fromLatin1(kStatuses[i % 10]);
        QJsonObject c { { QStringLiteral("id"), command(i) },
            { QStringLiteral("text"), QStringLiteral("任务 %1：整理模块 %2 的接口并补上测试").arg(i).arg(i % 37) },
            { QStringLiteral("status"), status },
            { QStringLiteral("employee_id"), employee(i, std::max(1, shape.employees)) },
            { QStringLiteral("issued_at"), at((commandCount - i) * 60 + 600) },
            { QStringLiteral("ran_runtime"), QString::fromLatin1(kRuntimes[i % 4]) } };
        if (i > 0 && i % 3 == 0)
            c.insert(QStringLiteral("depends_on"), QJsonArray { command(i - 1), command(i / 2) });
        if (running || status == QLatin1String("done") || status == QLatin1String("failed")) {
            c.insert(QStringLiteral("claimed_by"), device(i));
            c.insert(QStringLiteral("claimed_at"), at((commandCount - i) * 60 + 300));
            c.insert(QStringLiteral("execution_id"), QStringLiteral("exec-%1-large").arg(i, 6, 10, QLatin1Char('0')));
        }
        if (status == QLatin1String("done")) {
            c.insert(QStringLiteral("completed_at"), at((commandCount - i) * 60));
            c.insert(QStringLiteral("summary"), QStringLiteral("改了 %1 个文件，测试全部通过。").arg(i % 9 + 1));
            c.insert(QStringLiteral("files_touched"), i % 2 == 0);
            c.insert(
                QStringLiteral("verdict"), i % 7 == 0 ? QStringLiteral("PARTIAL_SUCCESS") : QStringLiteral("SUCCESS"));
        }
        if (status == QLatin1String("failed")) {
            c.insert(QStringLiteral("completed_at"), at((commandCount - i) * 60));
            c.insert(QStringLiteral("error"), QStringLiteral("测试没有通过：断言失败于第 %1 行").arg(i % 400));
        }
        commands.append(c);
        if (running && shape.advance) {
            const QJsonObject step { { QStringLiteral("progress"),
                QJsonObject { { QStringLiteral("kind"), QStringLiteral("edit") },
                    { QStringLiteral("action"), QStringLiteral("改文件") },
                    { QStringLiteral("detail"), QStringLiteral("src/module_%1/file.cpp").arg(i % 17) } } } };
            advance.insert(command(i),
                QJsonObject { { QStringLiteral("every_ms"), 2000 }, { QStringLiteral("steps"), QJsonArray { step } },
                    { QStringLiteral("repeat"), true } });
        }
    }
    QString focal;
    for (int i = commandCount - 1; i >= 0 && focal.isEmpty(); --i) {
        if (i % shape.runningEvery == shape.runningEvery * 3 / 4)
            focal = command(i);
    }

    QJsonArray runners;
    QJsonArray agents;
    for (int d = 0; d < kDevices; ++d) {
        runners.append(
            QJsonObject { { QStringLiteral("device_id"), device(d) }, { QStringLiteral("seconds_ago"), d * 7 } });
        agents.append(QJsonObject { { QStringLiteral("device"), device(d) },
            { QStringLiteral("runtime"), QString::fromLatin1(kRuntimes[d % 4]) } });
        agents.append(QJsonObject { { QStringLiteral("device"), device(d) },
            { QStringLiteral("runtime"), QString::fromLatin1(kRuntimes[(d + 1) % 4]) } });
    }

    QJsonArray employees;
    for (int e = 0; e < shape.employees; ++e) {
        QJsonArray skills;
        for (int k = 0; k < 4; ++k)
            skills.append(QJsonObject { { QStringLiteral("id"), QStringLiteral("skill-%1").arg(k) },
                { QStringLiteral("label"), QStringLiteral("技能 %1").arg(k + e % 5) } });
        QJsonObject o { { QStringLiteral("id"), employee(e, shape.employees) },
            { QStringLiteral("name"), QStringLiteral("同事 %1").arg(e) },
            { QStringLiteral("status"), e % 4 == 0 ? QStringLiteral("working") : QStringLiteral("idle") },
            { QStringLiteral("template"),
                QJsonObject { { QStringLiteral("name"), QString::fromLatin1(kTemplates[e % 6]) },
                    { QStringLiteral("role"), QStringLiteral("第 %1 组").arg(e % 8) },
                    { QStringLiteral("skills"), skills } } },
            { QStringLiteral("done_today_on_device"), e % 11 } };
        if (e % 10 != 9) {
            o.insert(QStringLiteral("device_id"), device(e));
            o.insert(QStringLiteral("device_alive"), e % 5 != 4);
            o.insert(QStringLiteral("device_seconds_ago"), (e % kDevices) * 7);
            o.insert(QStringLiteral("device_runtime"), QString::fromLatin1(kRuntimes[e % 4]));
            o.insert(QStringLiteral("runtime_fit"), QStringLiteral("good"));
            o.insert(QStringLiteral("device_tier"), QStringLiteral("standard"));
            o.insert(QStringLiteral("device_current_task"),
                QStringLiteral("任务 %1").arg(e * 30 % std::max(1, commandCount)));
            o.insert(QStringLiteral("device_current_task_id"), command(e * 30 % std::max(1, commandCount)));
        }
        employees.append(o);
    }

    static const char* const categories[] = { "approval", "permission", "conflict", "failed", "approval" };
    QJsonArray feed;
    for (int f = 0; f < shape.feed; ++f) {
        const int task = (f * 13) % std::max(1, commandCount);
        QJsonObject item { { QStringLiteral("id"), QStringLiteral("feed-%1").arg(f, 4, 10, QLatin1Char('0')) },
            { QStringLiteral("task_id"), command(task) },
            { QStringLiteral("category"), QString::fromLatin1(shape.approvalsOnly ? "approval" : categories[f % 5]) },
            { QStringLiteral("title"), QStringLiteral("第 %1 条待办").arg(f) },
            { QStringLiteral("subtitle"), QStringLiteral("来自任务 %1").arg(task) },
            { QStringLiteral("command"), QStringLiteral("任务 %1：整理模块的接口").arg(task) },
            { QStringLiteral("origin_device"), device(f) } };
        if (f % 7 == 0 && !shape.approvalsOnly)
            item.insert(QStringLiteral("status"), QStringLiteral("approved"));
        if (f % 11 == 0 && !shape.approvalsOnly)
            item.insert(QStringLiteral("outcome"), QStringLiteral("failed"));
        feed.append(item);
    }

    QJsonArray lines;
    for (int p = 0; p < kProgress; ++p) {
        lines.append(QJsonObject { { QStringLiteral("seq"), p + 1 },
            { QStringLiteral("kind"), QString::fromLatin1(kKinds[p % 6]) },
            { QStringLiteral("action"), QStringLiteral("第 %1 步").arg(p + 1) },
            { QStringLiteral("detail"), QStringLiteral("src/module_%1/file_%2.cpp").arg(p % 17).arg(p) },
            { QStringLiteral("at"), at(kProgress - p) } });
    }

    QJsonObject ws {
        { QStringLiteral("workspace"), QStringLiteral("ws-large") },
        { QStringLiteral("token"), QStringLiteral("large-token") },
        { QStringLiteral("name"), QStringLiteral("Large Workspace") },
        { QStringLiteral("commands"), commands },
        { QStringLiteral("runners"), runners },
        { QStringLiteral("runners_read"), true },
        { QStringLiteral("progress"), QJsonObject { { focal, lines } } },
        { QStringLiteral("employees"), employees },
        { QStringLiteral("agents"), agents },
        { QStringLiteral("feed"), feed },
        { QStringLiteral("permissions"),
            QJsonObject { { QStringLiteral("effective"),
                              QJsonObject { { QStringLiteral("read"), true }, { QStringLiteral("exec"), true } } },
                { QStringLiteral("pending"), QJsonArray { QStringLiteral("danger") } },
                { QStringLiteral("ceiling"),
                    QJsonArray { QStringLiteral("read"), QStringLiteral("write"), QStringLiteral("exec") } } } },
    };
    if (!advance.isEmpty())
        ws.insert(QStringLiteral("advance"), advance);
    if (shape.oneLineBytes > 0) {
        // Minified data: short tokens, no space and no line break.
        QByteArray text;
        text.reserve(shape.oneLineBytes);
        for (int i = 0; text.size() < shape.oneLineBytes; ++i)
            text += "{\"id\":" + QByteArray::number(i) + ",\"ok\":true},";
        text.truncate(shape.oneLineBytes);
        ws.insert(QStringLiteral("blobs"), QJsonObject { { QStringLiteral("one-line"), QString::fromLatin1(text) } });
    }

    QJsonArray workspaces { ws };
    for (int w = 1; w <= shape.moreWorkspaces; ++w) {
        const QString n = QStringLiteral("%1").arg(w, 4, 10, QLatin1Char('0'));
        workspaces.append(QJsonObject { { QStringLiteral("workspace"), QStringLiteral("ws-") + n },
            { QStringLiteral("token"), QStringLiteral("token-") + n },
            { QStringLiteral("name"), QStringLiteral("工作区 ") + n }, { QStringLiteral("commands"), QJsonArray {} },
            { QStringLiteral("feed"), QJsonArray {} }, { QStringLiteral("employees"), QJsonArray {} } });
    }
    return QJsonDocument(QJsonObject { { QStringLiteral("workspaces"), workspaces } }).toJson(QJsonDocument::Indented);
}

} // namespace LargeScenario
