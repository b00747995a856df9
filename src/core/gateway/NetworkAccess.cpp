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
constexpr qint64 kReadAhead = 256 * 1024;

class LoopbackBypass : public QNetworkProxyFactory {
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override
    {
        if (HttpAddress::isLoopbackHost(query.peerHostName()))
            return { QNetworkProxy(QNetworkProxy::NoProxy) };
        return systemProxyForQuery(query);
    }
};

class Manager : public QNetworkAccessManager {
public:
    using QNetworkAccessManager::QNetworkAccessManager;

protected:
    QNetworkReply* createRequest(Operation op, const QNetworkRequest& original, QIODevice* outgoingData) override
    {
        // Over HTTP/2 Qt's network thread takes in what the server sends
        // whatever the read buffer says; HTTP/1.1 waits for it.
        QNetworkRequest request(original);
        request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
        return QNetworkAccessManager::createRequest(op, request, outgoingData);
    }
};
} // namespace

QNetworkAccessManager* create(QObject* parent)
{
    auto* nam = new Manager(parent);
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
    // Qt's network thread reads no further ahead than its read buffer (a
    // count on this thread alone would let it read gigabytes first); read as
    // it comes, so that the buffer keeps being freed.
    reply->setReadBufferSize(kReadAhead);
    // A request with a body starts on the next turn of the event loop, and
    // Qt loses a size set before that: it is set again once it has started.
    QMetaObject::invokeMethod(
        this, [this] { m_reply->setReadBufferSize(kReadAhead); }, Qt::QueuedConnection);
    connect(reply, &QIODevice::readyRead, this, &BoundedBody::drain);
}

void BoundedBody::drain()
{
    if (m_overrun != Overrun::None)
        return;
    // Only what has arrived: read(n) allocates n bytes up front and the body
    // would keep that capacity, the whole cap for every reply in flight.
    m_body.append(m_reply->read(qMin(m_reply->bytesAvailable(), m_maxBytes + 1 - m_body.size())));
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
