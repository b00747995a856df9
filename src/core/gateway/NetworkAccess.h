#pragma once

#include <QByteArray>
#include <QNetworkReply>
#include <QObject>

#include <memory>

class QNetworkAccessManager;
class QObject;

namespace NetworkAccess {

// A manager for gateway and provider traffic: no disk cache, no HTTP/2 (which
// would read past a reply's read buffer), and loopback addresses never go
// through a proxy (everything else follows the system's settings). When
// `parent` is destroyed, every reply still in flight is aborted, so that the
// coroutines awaiting them resume (with their owner gone) instead of leaking.
QNetworkAccessManager* create(QObject* parent);

struct ReplyDeleter {
    void operator()(QNetworkReply* r) const
    {
        if (r)
            r->deleteLater();
    }
};
// A reply that is released with deleteLater when its owner goes out of scope.
using ReplyPtr = std::unique_ptr<QNetworkReply, ReplyDeleter>;

// What one reply may take: a server on the network can send a body without
// end, or drip it a byte at a time, which resets the transfer time-out each time.
struct Bounds {
    qint64 maxBytes; // the body, as it arrives
    int deadlineMs; // the whole exchange, from the moment the reply is bounded
};

// A reply read within its bounds: its body is taken as it comes, and the
// reply is aborted (it finishes with OperationCanceledError) as soon as the
// body grows past the cap, a declared length is past it, or the deadline has
// passed. Qt's network thread reads no further ahead of it than a small read
// buffer, so that a fast sender gets no further than the cap and the socket
// buffers. Lives as a child of the reply; bound right after the request is sent.
class BoundedBody : public QObject {
public:
    enum class Overrun { None, TooLarge, Deadline };

    static BoundedBody* bound(QNetworkReply* reply, Bounds bounds);

    // Once the reply has finished: what cut it short, if anything, and the
    // whole body (empty after an overrun).
    Overrun overrun() const { return m_overrun; }
    QByteArray take();

private:
    BoundedBody(QNetworkReply* reply, Bounds bounds);
    void drain();
    void cut(Overrun why);

    QNetworkReply* m_reply;
    qint64 m_maxBytes;
    QByteArray m_body;
    Overrun m_overrun = Overrun::None;
};

// A body past its cap in a user's words: "回复太大（超过 8 MB），没有读完".
QString tooLargeText(qint64 maxBytes);

} // namespace NetworkAccess
