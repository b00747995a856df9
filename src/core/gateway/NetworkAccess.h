#pragma once

#include <QNetworkReply>

#include <memory>

class QNetworkAccessManager;
class QObject;

namespace NetworkAccess {

// A manager for gateway traffic: no disk cache, and loopback addresses never
// go through a proxy (everything else follows the system's settings). When
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

} // namespace NetworkAccess
