#include "core/gateway/GatewayTime.h"

#include <QRegularExpression>

namespace GatewayTime {

namespace {

// The digits of text[from, from + n) as a number; -1 when any is not a digit.
int digits(const QString& text, qsizetype from, qsizetype n)
{
    int value = 0;
    for (qsizetype i = from; i < from + n; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c - u'0');
    }
    return value;
}

// The shape the gateway sends nearly always, "YYYY-MM-DDTHH:MM:SSZ" or with
// milliseconds (".fff"), read without the general parser: a reload reads
// thousands of them. Any other shape, or a field out of range, is left to it.
std::optional<QDateTime> parseCommonUtc(const QString& text)
{
    const qsizetype n = text.size();
    if ((n != 20 && n != 24) || text[n - 1] != u'Z' || text[4] != u'-' || text[7] != u'-' || text[10] != u'T'
        || text[13] != u':' || text[16] != u':' || (n == 24 && text[19] != u'.'))
        return std::nullopt;
    const int ms = n == 24 ? digits(text, 20, 3) : 0;
    const QDate date(digits(text, 0, 4), digits(text, 5, 2), digits(text, 8, 2));
    const int h = digits(text, 11, 2);
    const int m = digits(text, 14, 2);
    const int sec = digits(text, 17, 2);
    if (ms < 0 || !date.isValid() || date.year() < 1 || h < 0 || h > 23 || m < 0 || m > 59 || sec < 0 || sec > 59)
        return std::nullopt;
    return QDateTime(date, QTime(h, m, sec, ms), Qt::UTC);
}

} // namespace

std::optional<QDateTime> parse(const std::optional<QString>& text)
{
    if (!text || text->isEmpty())
        return std::nullopt;
    if (std::optional<QDateTime> common = parseCommonUtc(*text))
        return common;
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
