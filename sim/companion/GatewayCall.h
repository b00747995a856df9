#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

// One JSON request to the stand-in gateway's control API, waited for (the
// tool is a short-lived command-line program).
struct GatewayReply {
    int status = 0; // HTTP status; 0 when no gateway answered
    QJsonObject body; // the reply's JSON object, when it was one
    QString error; // what went wrong, for the tool's own message

    bool ok() const { return status >= 200 && status < 300; }
};

// The gateway the tool talks to: BRENLOW_SIM_GATEWAY, else `fallback` when
// given, else http://127.0.0.1:18091.
QString gatewayBase(const QString& fallback = {});

GatewayReply postJson(const QString& base, const QString& path, const QJsonObject& body);
