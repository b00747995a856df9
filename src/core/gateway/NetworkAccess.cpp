#include "core/gateway/NetworkAccess.h"

#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>

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
    return nam;
}

} // namespace NetworkAccess
