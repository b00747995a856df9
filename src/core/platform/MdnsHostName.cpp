#include "core/platform/MdnsHostName.h"

#include "core/platform/OffMainThread.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QMutex>

namespace MdnsHostName {

namespace {

struct Kept {
    QMutex mutex;
    std::optional<QString> name;
    QDeadlineTimer until; // expired: nothing kept
};

// Never destroyed: a lookup may still finish while the process exits.
Kept& kept()
{
    static auto* k = new Kept;
    return *k;
}

// The asking itself; blocks up to kCallTimeoutMs.
std::optional<QString> ask()
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return std::nullopt;
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Avahi"), QStringLiteral("/"),
        QStringLiteral("org.freedesktop.Avahi.Server"), QStringLiteral("GetHostNameFqdn"));
    // A daemon that is not running is not started for this.
    call.setAutoStartService(false);
    const QDBusMessage reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1)
        return std::nullopt;
    const QVariant value = reply.arguments().constFirst();
    if (value.metaType() != QMetaType::fromType<QString>() || value.toString().isEmpty())
        return std::nullopt;
    return value.toString();
}

} // namespace

QCoro::Task<std::optional<QString>> lookup()
{
    {
        Kept& k = kept();
        const QMutexLocker lock(&k.mutex);
        if (!k.until.hasExpired())
            co_return k.name;
    }
    auto asking = offMainThread([] { return ask(); });
    const std::optional<QString> name = co_await std::move(asking);
    Kept& k = kept();
    const QMutexLocker lock(&k.mutex);
    k.name = name;
    k.until = QDeadlineTimer(kKeepMs);
    co_return name;
}

void forget()
{
    Kept& k = kept();
    const QMutexLocker lock(&k.mutex);
    k.name.reset();
    k.until = QDeadlineTimer();
}

} // namespace MdnsHostName
