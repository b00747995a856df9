#pragma once

#include <QNetworkReply>

#include <memory>

class QNetworkAccessManager;
class QObject;

namespace NetworkAccess {

// A manager for gateway traffic: no disk cache, and loopback addresses never
// go through a proxy (everything else follows the system's settings).
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
