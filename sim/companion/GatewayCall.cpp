#include "GatewayCall.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

QString gatewayBase(const QString& fallback)
{
    const QString steered = qEnvironmentVariable("BRENLOW_SIM_GATEWAY");
    if (!steered.isEmpty())
        return steered;
    if (!fallback.isEmpty())
        return fallback;
    return QStringLiteral("http://127.0.0.1:18091");
}

GatewayReply postJson(const QString& base, const QString& path, const QJsonObject& body)
{
    GatewayReply result;
    QString trimmed = base;
    while (trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    const QUrl url(trimmed + path);
    if (!url.isValid() || url.scheme().isEmpty()) {
        result.error = QStringLiteral("网关地址不对：") + base;
        return result;
    }
    QNetworkAccessManager nam;
    nam.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(5000);
    QNetworkReply* reply = nam.post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray data = reply->readAll();
    const QJsonDocument doc = QJsonDocument::fromJson(data);
    if (doc.isObject())
        result.body = doc.object();
    if (result.status == 0)
        result.error = reply->errorString();
    else if (!result.ok())
        result.error = QStringLiteral("网关回了 %1：%2").arg(result.status).arg(QString::fromUtf8(data).trimmed());
    reply->deleteLater();
    return result;
}
