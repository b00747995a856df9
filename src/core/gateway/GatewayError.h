#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// A gateway reply whose status is not 2xx.
struct GatewayError {
    int status = 0; // 0 when the reply was not an HTTP response
    QString code; // the body's "code", or empty
    QString message; // the body's "error", or "网关回了 <status>"

    bool operator==(const GatewayError&) const = default;

    // Decodes the error body: a JSON object whose "error" and "code" are
    // strings or null; any other shape counts as no message and no code. The
    // message is kept as it may be shown: `tokens` (the request's own and
    // every other this machine holds) and anything shaped like a credential
    // masked, cut to a display length.
    static GatewayError fromReply(int status, const QByteArray& body, const QStringList& tokens = {});

    QString errorDescription() const;
    // What the permission and approval views show beside the error.
    std::optional<QString> advice() const;
};
