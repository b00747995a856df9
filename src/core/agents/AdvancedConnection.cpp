#include "core/agents/AdvancedConnection.h"

#include "core/gateway/GatewayTime.h"
#include "core/gateway/Json.h"
#include "core/platform/UuidText.h"

#include <QJsonArray>
#include <QProcess>

QStringList AdvancedConnection::words() const
{
    return QProcess::splitCommand(command);
}

bool AdvancedConnection::hasOpenQuote() const
{
    // As words() reads quotes: in a run of them, each three stand for one
    // quote character, and one left over opens or closes a group.
    bool open = false;
    qsizetype run = 0;
    for (qsizetype i = 0; i <= command.size(); ++i) {
        if (i < command.size() && command.at(i) == QLatin1Char('"')) {
            ++run;
            continue;
        }
        if (run % 3 == 1)
            open = !open;
        run = 0;
    }
    return open;
}

QJsonObject AdvancedConnection::toJson() const
{
    return {
        { QStringLiteral("id"), UuidText::stored(id) },
        { QStringLiteral("kind"), AdvancedConnectionKinds::rawValue(kind) },
        { QStringLiteral("name"), name },
        { QStringLiteral("command"), command },
        { QStringLiteral("createdAt"), createdAt.toUTC().toString(Qt::ISODate) },
    };
}

std::optional<AdvancedConnection> AdvancedConnection::fromJson(const QJsonObject& object)
{
    json::StrictReader r(object);
    AdvancedConnection c;
    c.id = QUuid::fromString(r.requiredString(QStringLiteral("id")));
    const QString kind = r.requiredString(QStringLiteral("kind"));
    c.name = r.requiredString(QStringLiteral("name"));
    c.command = r.requiredString(QStringLiteral("command"));
    const QString created = r.requiredString(QStringLiteral("createdAt"));
    if (!r.ok() || c.id.isNull())
        return std::nullopt;
    const std::optional<AdvancedConnectionKind> k = AdvancedConnectionKinds::fromRawValue(kind);
    const std::optional<QDateTime> date = GatewayTime::parse(created);
    if (!k || !date)
        return std::nullopt;
    c.kind = *k;
    c.createdAt = *date;
    return c;
}

std::optional<QList<AdvancedConnection>> AdvancedConnection::decodeList(const QByteArray& data)
{
    const std::optional<QJsonArray> array = json::parseArray(data);
    if (!array)
        return std::nullopt;
    QList<AdvancedConnection> out;
    for (const QJsonValue& v : *array) {
        if (!v.isObject())
            return std::nullopt;
        std::optional<AdvancedConnection> c = fromJson(v.toObject());
        if (!c)
            return std::nullopt;
        out.append(*c);
    }
    return out;
}
