#include "core/gateway/NetworkAccess.h"

#include "core/platform/HttpAddress.h"

#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>

#include <utility>

namespace NetworkAccess {

namespace {
class LoopbackBypass : public QNetworkProxyFactory {
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override
    {
        if (HttpAddress::isLoopbackHost(query.peerHostName()))
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

BoundedBody* BoundedBody::bound(QNetworkReply* reply, Bounds bounds)
{
    return new BoundedBody(reply, bounds);
}

BoundedBody::BoundedBody(QNetworkReply* reply, Bounds bounds)
    : QObject(reply)
    , m_reply(reply)
    , m_maxBytes(bounds.maxBytes)
{
    auto* deadline = new QTimer(this);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, this, [this] { cut(Overrun::Deadline); });
    connect(reply, &QNetworkReply::finished, deadline, &QTimer::stop);
    deadline->start(bounds.deadlineMs);
    connect(reply, &QNetworkReply::metaDataChanged, this, [this] {
        const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > m_maxBytes)
            cut(Overrun::TooLarge);
    });
    // Read as it comes, so that Qt's own buffer never holds more than a chunk.
    connect(reply, &QIODevice::readyRead, this, &BoundedBody::drain);
}

void BoundedBody::drain()
{
    if (m_overrun != Overrun::None)
        return;
    m_body.append(m_reply->read(m_maxBytes + 1 - m_body.size()));
    if (m_body.size() > m_maxBytes)
        cut(Overrun::TooLarge);
}

void BoundedBody::cut(Overrun why)
{
    if (m_overrun != Overrun::None)
        return;
    m_overrun = why;
    m_body.clear();
    m_body.squeeze();
    // Finishes the reply at once: whoever awaits it resumes here.
    if (!m_reply->isFinished())
        m_reply->abort();
}

QByteArray BoundedBody::take()
{
    drain();
    if (m_overrun != Overrun::None)
        return {};
    return std::exchange(m_body, QByteArray());
}

QString tooLargeText(qint64 maxBytes)
{
    return QStringLiteral("回复太大（超过 %1 MB），没有读完").arg(maxBytes / (1024 * 1024));
}

} // namespace NetworkAccess
