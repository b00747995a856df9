#include "core/runtimes/RuntimeChildRecord.h"

#include "core/gateway/GatewayTime.h"
#include "core/gateway/Json.h"

#include <limits>

QJsonObject RuntimeChildRecord::toJson() const
{
    QJsonObject o;
    o.insert(QStringLiteral("pid"), pid);
    o.insert(QStringLiteral("exe"), exe);
    o.insert(QStringLiteral("workspace"), workspace);
    o.insert(QStringLiteral("kind"), kind);
    o.insert(QStringLiteral("ownerPID"), ownerPID);
    o.insert(QStringLiteral("startedAt"), startedAt.toUTC().toString(Qt::ISODate));
    if (!launch.isEmpty())
        o.insert(QStringLiteral("launch"), launch);
    // A JSON number holds a tick count exactly up to 2^53: years of uptime.
    if (ownerStart != 0)
        o.insert(QStringLiteral("ownerStart"), qint64(ownerStart));
    if (ownerPidNs != 0)
        o.insert(QStringLiteral("ownerPidNs"), qint64(ownerPidNs));
    if (!ownerHome.isEmpty())
        o.insert(QStringLiteral("ownerHome"), ownerHome);
    return o;
}

std::optional<RuntimeChildRecord> RuntimeChildRecord::fromJson(const QJsonObject& object, QString* error)
{
    json::StrictReader r(object);
    RuntimeChildRecord rec;
    const qint64 pid = r.requiredInt(QStringLiteral("pid"));
    rec.exe = r.requiredString(QStringLiteral("exe"));
    rec.workspace = r.requiredString(QStringLiteral("workspace"));
    rec.kind = r.requiredString(QStringLiteral("kind"));
    const qint64 owner = r.requiredInt(QStringLiteral("ownerPID"));
    const QString started = r.requiredString(QStringLiteral("startedAt"));
    rec.launch = r.string(QStringLiteral("launch"));
    const qint64 ownerStart = r.integer(QStringLiteral("ownerStart"));
    const qint64 ownerPidNs = r.integer(QStringLiteral("ownerPidNs"));
    rec.ownerHome = r.string(QStringLiteral("ownerHome"));
    constexpr qint64 lo = std::numeric_limits<qint32>::min();
    constexpr qint64 hi = std::numeric_limits<qint32>::max();
    if (r.ok() && (pid < lo || pid > hi))
        r.fail(QStringLiteral("pid"));
    if (r.ok() && (owner < lo || owner > hi))
        r.fail(QStringLiteral("ownerPID"));
    if (r.ok() && ownerStart < 0)
        r.fail(QStringLiteral("ownerStart"));
    if (r.ok() && ownerPidNs < 0)
        r.fail(QStringLiteral("ownerPidNs"));
    if (r.ok()) {
        const std::optional<QDateTime> date = GatewayTime::parse(started);
        if (date)
            rec.startedAt = *date;
        else
            r.fail(QStringLiteral("startedAt"));
    }
    if (!r.ok()) {
        if (error)
            *error = QStringLiteral("键 %1 缺失或类型不对").arg(r.error());
        return std::nullopt;
    }
    rec.pid = qint32(pid);
    rec.ownerPID = qint32(owner);
    rec.ownerStart = quint64(ownerStart);
    rec.ownerPidNs = quint64(ownerPidNs);
    return rec;
}
