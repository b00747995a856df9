#include "core/gateway/NetworkAccess.h"

#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QPointer>

namespace NetworkAccess {

namespace {
class LoopbackBypass : public QNetworkProxyFactory {
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override
    {
        const QString host = query.peerHostName();
        const QHostAddress address(host);
        if (host == QLatin1String("localhost") || (!address.isNull() && address.isLoopback()))
            return { QNetworkProxy(QNetworkProxy::NoProxy) };
        return systemProxyForQuery(query);
    }
};
} // namespace

QNetworkAccessManager* create(QObject* parent)
{
    auto* nam = new QNetworkAccessManager(parent);
    nam->setProxyFactory(new LoopbackBypass);
    nam->setCache(nullptr);
    // The manager deletes its replies without `finished`, which would leave
    // every coroutine awaiting one suspended for ever. `destroyed` comes after
    // the owner's QPointers are cleared and before its children go, so each
    // awaiting coroutine resumes here, finds its owner gone and ends.
    if (parent) {
        QObject::connect(parent, &QObject::destroyed, nam, [nam] {
            // Guarded first: a resumed coroutine may let go of another reply.
            QList<QPointer<QNetworkReply>> replies;
            for (QNetworkReply* reply : nam->findChildren<QNetworkReply*>(Qt::FindDirectChildrenOnly))
                replies.append(reply);
            for (const QPointer<QNetworkReply>& reply : std::as_const(replies)) {
                if (reply && reply->isRunning())
                    reply->abort();
            }
        });
    }
    return nam;
}

} // namespace NetworkAccess
