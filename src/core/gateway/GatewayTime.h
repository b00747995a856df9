#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// Gateway timestamps and the short "how long ago" texts.
namespace GatewayTime {

// ISO 8601 date and time with a zone ("Z" or ±hh:mm), with or without
// fractional seconds. Anything else (a date alone, no zone) gives none, and so
// does a time that falls outside the years 1 to 9999 in UTC.
std::optional<QDateTime> parse(const std::optional<QString>& text);

// "N 秒前", "N 分钟前", "N 小时前" or "N 天前"; divisions truncate toward zero.
QString agoSecs(qint64 seconds);

} // namespace GatewayTime
