#include "core/platform/MdnsHostName.h"

#include "core/platform/LoopPause.h"
#include "core/platform/OffMainThread.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QPointer>
#include <QTcpSocket>

#include <QCoroAbstractSocket>
#include <QCoroIODevice>
#include <QCoroLocalSocket>

#include <chrono>
#include <memory>

namespace MdnsHostName {

namespace {

// One asking of the daemon, which the lookups meanwhile wait for.
class Asking : public QObject {
    Q_OBJECT
public:
    QDeadlineTimer until { kLookupTimeoutMs };
signals:
    void done();
};

struct Kept {
    std::optional<QString> name;
    QDeadlineTimer until; // expired: nothing kept
    QPointer<Asking> asking;
};

// Never destroyed: a lookup may still finish while the process exits.
Kept& kept()
{
    static auto* k = new Kept;
    return *k;
}

// Where the system bus listens, as D-Bus clients read its address: the
// first entry this check can reach (a unix socket by path or abstract name,
// or tcp).
struct BusAddress {
    enum class Kind { Path, Abstract, Tcp };
    Kind kind;
    QString name;
    quint16 port = 0;
};

std::optional<BusAddress> systemBusAddress()
{
    QByteArray text = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    if (text.isEmpty())
        text = QByteArrayLiteral("unix:path=/var/run/dbus/system_bus_socket");
    for (const QByteArray& entry : text.split(';')) {
        const qsizetype colon = entry.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray transport = entry.left(colon);
        QHash<QByteArray, QString> keys;
        for (const QByteArray& pair : entry.mid(colon + 1).split(',')) {
            const qsizetype eq = pair.indexOf('=');
            if (eq > 0)
                keys.insert(pair.left(eq), QString::fromUtf8(QByteArray::fromPercentEncoding(pair.mid(eq + 1))));
        }
        if (transport == "unix" && keys.contains("path"))
            return BusAddress { BusAddress::Kind::Path, keys.value("path") };
        if (transport == "unix" && keys.contains("abstract"))
            return BusAddress { BusAddress::Kind::Abstract, keys.value("abstract") };
        bool ok = false;
        const quint16 port = keys.value("port").toUShort(&ok);
        if (transport == "tcp" && keys.contains("host") && ok)
            return BusAddress { BusAddress::Kind::Tcp, keys.value("host"), port };
    }
    return std::nullopt;
}

// Whether the bus answers a new connection in time: it is sent the opening
// of the authentication (a NUL byte, then "AUTH" without a mechanism) and
// answers with a line listing its mechanisms.
QCoro::Task<bool> busAnswers(BusAddress address)
{
    const QDeadlineTimer bound(kBusTimeoutMs);
    const auto left = [&bound] { return std::chrono::milliseconds(qMax<qint64>(1, bound.remainingTime())); };
    std::unique_ptr<QIODevice> device;
    if (address.kind == BusAddress::Kind::Tcp) {
        auto* socket = new QTcpSocket;
        device.reset(socket);
        socket->connectToHost(address.name, address.port);
        auto connecting = qCoro(socket).waitForConnected(left());
        if (!co_await std::move(connecting))
            co_return false;
    } else {
        auto* socket = new QLocalSocket;
        device.reset(socket);
        if (address.kind == BusAddress::Kind::Abstract)
            socket->setSocketOptions(QLocalSocket::AbstractNamespaceOption);
        auto connecting = qCoro(socket).connectToServer(address.name, QIODevice::ReadWrite, left());
        if (!co_await std::move(connecting))
            co_return false;
    }
    device->write(QByteArray("\0AUTH\r\n", 7));
    QByteArray answer;
    while (!answer.contains("\r\n") && answer.size() < 4096) {
        if (bound.hasExpired())
            co_return false;
        auto reading = qCoro(device.get()).waitForReadyRead(left());
        if (!co_await std::move(reading))
            co_return false;
        answer.append(device->readAll());
    }
    co_return answer.contains("\r\n");
}

// The call itself, on a bus that answers; blocks up to kCallTimeoutMs.
std::optional<QString> call()
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

// Asks and keeps the answer, then lets the waiting lookups go.
QCoro::Task<> ask(Asking* asking)
{
    std::optional<QString> name;
    if (const std::optional<BusAddress> address = systemBusAddress()) {
        auto checking = busAnswers(*address);
        if (co_await std::move(checking)) {
            auto calling = offMainThread([] { return call(); });
            name = co_await std::move(calling);
        }
    }
    Kept& k = kept();
    if (k.asking == asking) {
        k.name = name;
        k.until = QDeadlineTimer(kKeepMs);
    }
    emit asking->done();
    asking->deleteLater();
}

} // namespace

QCoro::Task<std::optional<QString>> lookup()
{
    Kept& k = kept();
    // A copy: the kept name stays for the next lookup.
    if (!k.until.hasExpired())
        co_return std::optional<QString>(k.name);
    if (!k.asking) {
        auto* asking = new Asking;
        k.asking = asking;
        ask(asking);
    }
    // The asking may have ended at once (no bus to ask), or be past its time.
    if (k.until.hasExpired() && k.asking && !k.asking->until.hasExpired()) {
        // Ends once, by the answer, the bound or the asking's end, whichever
        // comes first: its timer and connections are this frame's own.
        const std::chrono::milliseconds left(qMax<qint64>(1, k.asking->until.remainingTime()));
        auto waiting = pauseLoop(k.asking.data(), left, &Asking::done);
        co_await std::move(waiting);
    }
    Kept& after = kept();
    if (after.until.hasExpired())
        co_return std::nullopt;
    co_return std::optional<QString>(after.name);
}

void forget()
{
    Kept& k = kept();
    k.name.reset();
    k.until = QDeadlineTimer();
    k.asking.clear();
}

} // namespace MdnsHostName

#include "MdnsHostName.moc"
