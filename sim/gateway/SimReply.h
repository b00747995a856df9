#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

// One answer of the stand-in gateway: status, body and content type.
struct SimReply {
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    QByteArray location; // a redirect's target

    static SimReply json(const QJsonObject& object, int status = 200)
    {
        return { status, QJsonDocument(object).toJson(QJsonDocument::Compact), "application/json" };
    }
    static SimReply error(int status, const QString& message, const QString& code)
    {
        return json(QJsonObject { { QStringLiteral("error"), message }, { QStringLiteral("code"), code } }, status);
    }
    static SimReply ok() { return json(QJsonObject { { QStringLiteral("ok"), true } }); }
};
