#include "core/gateway/GatewayTime.h"

#include <QRegularExpression>

namespace GatewayTime {

std::optional<QDateTime> parse(const std::optional<QString>& text)
{
    if (!text || text->isEmpty())
        return std::nullopt;
    // QDateTime::fromString accepts shapes the gateway never sends (no zone, a
    // date alone, a comma before the fraction), so the shape is checked first.
    static const QRegularExpression shape(
        QStringLiteral(R"(^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}(\.\d+)?(Z|[+-]\d{2}:\d{2})$)"));
    if (!shape.match(*text).hasMatch())
        return std::nullopt;
    const QDateTime dt = QDateTime::fromString(*text, Qt::ISODateWithMs);
    if (!dt.isValid())
        return std::nullopt;
    // The stores write times back in UTC, where a four-digit year can still be
    // exceeded ("9999-12-31T23:00:00-14:00", or a fraction rounding up); Qt has
    // no ISO text for such a time, and the rewritten file would not read back.
    const int year = dt.toUTC().date().year();
    if (year < 1 || year > 9999)
        return std::nullopt;
    return dt;
}

QString agoSecs(qint64 s)
{
    if (s <= 59)
        return QString::number(s) + QStringLiteral(" 秒前");
    if (s <= 3599)
        return QString::number(s / 60) + QStringLiteral(" 分钟前");
    if (s < 86400)
        return QString::number(s / 3600) + QStringLiteral(" 小时前");
    return QString::number(s / 86400) + QStringLiteral(" 天前");
}

} // namespace GatewayTime
