#include "core/gateway/Records.h"

QString CommandBrief::issuedAtHHmm() const
{
    if (!issuedAt || !issuedAt->isValid())
        return {};
    return issuedAt->toLocalTime().toString(QStringLiteral("HH:mm"));
}
