#include "core/gateway/GatewayError.h"

#include "core/gateway/Json.h"
#include "core/platform/DisplayText.h"

namespace {
QString statusText(int status)
{
    return QStringLiteral("网关回了 ") + QString::number(status);
}
} // namespace

GatewayError GatewayError::fromReply(int status, const QByteArray& body, const QStringList& tokens)
{
    GatewayError e;
    e.status = status;
    std::optional<QString> message;
    std::optional<QString> code;
    if (const auto object = json::parseObject(body)) {
        json::StrictReader r(*object);
        message = r.optionalString(QStringLiteral("error"));
        code = r.optionalString(QStringLiteral("code"));
        if (!r.ok()) {
            message.reset();
            code.reset();
        }
    }
    e.code = DisplayText::text(code.value_or(QString()));
    e.message = message ? DisplayText::message(*message, tokens) : statusText(status);
    return e;
}

QString GatewayError::errorDescription() const
{
    return message.isEmpty() ? statusText(status) : message;
}

std::optional<QString> GatewayError::advice() const
{
    if (code == QLatin1String("grant_exceeds_source"))
        return QStringLiteral("这一档不能远程开——它要求本机先声明允许，而只有 `brenlow grant` 会写那份声明。");
    if (code == QLatin1String("permissions_not_loaded"))
        return QStringLiteral("这台设备还没有权限记录。先让执行体上线跑一次，或者用下面的按钮在本机授权。");
    if (code == QLatin1String("unknown_permission"))
        return QStringLiteral("网关不认识这一档。多半是 App 和网关版本对不上。");
    return std::nullopt;
}
