#include "core/runtimes/RuntimeInventory.h"

#include "core/gateway/Json.h"
#include "core/platform/DisplayText.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

// Thrown inside the decoder only, to stop at the first violation with its path.
struct Violation {
    QString path;
};

void check(const json::StrictReader& r, const QString& where)
{
    if (!r.ok())
        throw Violation { where + r.error() };
}

QMap<QString, qint64> intMap(const QJsonObject& object, const QString& where)
{
    QMap<QString, qint64> out;
    for (auto it = object.begin(); it != object.end(); ++it) {
        const std::optional<qint64> n = json::integral(it.value());
        if (!n)
            throw Violation { where + QLatin1Char('.') + it.key() };
        out.insert(it.key(), *n);
    }
    return out;
}

RuntimeEntry entry(const QJsonObject& o, const QString& where)
{
    json::StrictReader r(o);
    RuntimeEntry e;
    e.kind = r.requiredString(QStringLiteral("kind"));
    // What the tool says to be read is cut as the gateway's texts are; the
    // kind, paths and login command are used as they came.
    e.display = DisplayText::name(r.requiredString(QStringLiteral("display")));
    e.adapter = r.requiredString(QStringLiteral("adapter"));
    const QJsonObject health = r.requiredObject(QStringLiteral("health"));
    const QJsonObject auth = r.requiredObject(QStringLiteral("auth"));
    e.usability = r.requiredString(QStringLiteral("usability"));
    e.isProtocol = r.requiredBool(QStringLiteral("protocol"));
    const QJsonObject caps = r.requiredObject(QStringLiteral("cap_counts"));
    check(r, where);

    json::StrictReader h(health);
    e.health.installed = h.requiredBool(QStringLiteral("installed"));
    e.health.healthy = h.requiredBool(QStringLiteral("healthy"));
    e.health.version = DisplayText::shown(h.optionalString(QStringLiteral("version")), DisplayText::name);
    e.health.path = h.optionalString(QStringLiteral("path"));
    e.health.error = DisplayText::shown(h.optionalString(QStringLiteral("error")), DisplayText::text);
    check(h, where + QStringLiteral("health."));

    json::StrictReader a(auth);
    e.auth.state = a.requiredString(QStringLiteral("state"));
    e.auth.source = a.requiredString(QStringLiteral("source"));
    e.auth.hint = DisplayText::shown(a.optionalString(QStringLiteral("hint")), DisplayText::text);
    e.auth.login = a.optionalStringList(QStringLiteral("login"));
    e.auth.loginNote = DisplayText::shown(a.optionalString(QStringLiteral("login_note")), DisplayText::text);
    check(a, where + QStringLiteral("auth."));

    e.capCounts = intMap(caps, where + QStringLiteral("cap_counts"));
    return e;
}

} // namespace

std::optional<RuntimeInventory> RuntimeInventory::decode(const QByteArray& data, QString* error)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(data, &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isObject()) {
        if (error)
            *error = parseError.error != QJsonParseError::NoError
                ? QStringLiteral("runtimes 报告不是合法的 JSON（第 %1 个字符：%2）")
                      .arg(parseError.offset)
                      .arg(parseError.errorString())
                : QStringLiteral("runtimes 报告的顶层不是对象");
        return std::nullopt;
    }
    try {
        json::StrictReader r(doc.object());
        const QJsonArray runtimes = r.requiredArray(QStringLiteral("runtimes"));
        const QJsonObject counts = r.requiredObject(QStringLiteral("counts"));
        check(r, QString());
        RuntimeInventory inv;
        inv.counts = intMap(counts, QStringLiteral("counts"));
        for (qsizetype i = 0; i < runtimes.size(); ++i) {
            const QString where = QStringLiteral("runtimes[%1].").arg(i);
            if (!runtimes.at(i).isObject())
                throw Violation { where.chopped(1) };
            inv.runtimes.append(entry(runtimes.at(i).toObject(), where));
        }
        return inv;
    } catch (const Violation& v) {
        if (error)
            *error = QStringLiteral("runtimes 报告解不开：键 %1 缺失或类型不对").arg(v.path);
        return std::nullopt;
    }
}
