#include "core/gateway/Failure.h"

#include "core/platform/DisplayText.h"

Failure Failure::gateway(const GatewayError& error)
{
    Failure f;
    f.m_kind = Kind::Gateway;
    f.m_code = error.status;
    f.m_description = error.errorDescription();
    f.m_gateway = error;
    return f;
}

Failure Failure::tolvarine(int code, const QString& description)
{
    Failure f;
    f.m_kind = Kind::Tolvarine;
    f.m_code = code;
    f.m_description = description;
    return f;
}

// A transport error's text may quote what the other end said, a decoding
// error's the keys it sent: both are shown as gateway messages are.
Failure Failure::transport(const QString& description)
{
    Failure f;
    f.m_kind = Kind::Transport;
    f.m_description = DisplayText::message(description);
    return f;
}

Failure Failure::unanswered(const QString& description)
{
    Failure f = transport(description);
    f.m_unanswered = true;
    return f;
}

Failure Failure::decoding(const QString& description)
{
    Failure f;
    f.m_kind = Kind::Decoding;
    f.m_description = DisplayText::message(description);
    return f;
}

QString Failure::description() const
{
    return m_description;
}

std::optional<QString> Failure::advice() const
{
    return m_gateway ? m_gateway->advice() : std::nullopt;
}
