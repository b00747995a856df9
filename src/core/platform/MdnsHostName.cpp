#include "core/platform/MdnsHostName.h"

#include "core/platform/LoopPause.h"
#include "core/platform/OffMainThread.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QPointer>
#include <QTcpSocket>
#include <QtEndian>

#include <QCoroAbstractSocket>
#include <QCoroIODevice>
#include <QCoroLocalSocket>

#include <chrono>
#include <memory>

#include <unistd.h>

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

// The bus's Hello, the first call on every connection (little-endian).
QByteArray helloMessage()
{
    const auto pad = [](QByteArray& bytes) {
        while (bytes.size() % 8)
            bytes.append('\0');
    };
    const auto u32 = [](QByteArray& bytes, quint32 value) {
        const quint32 le = qToLittleEndian(value);
        bytes.append(reinterpret_cast<const char*>(&le), 4);
    };
    // The header fields start 8-aligned in the message, so aligning them on
    // their own is aligning them in it.
    QByteArray fields;
    const auto field = [&](char code, char type, const QByteArray& text) {
        pad(fields);
        fields.append(code).append('\1').append(type).append('\0');
        u32(fields, quint32(text.size()));
        fields.append(text).append('\0');
    };
    field(1, 'o', "/org/freedesktop/DBus");
    field(2, 's', "org.freedesktop.DBus");
    field(3, 's', "Hello");
    field(6, 's', "org.freedesktop.DBus");
    QByteArray message("l\1\0\1", 4);
    u32(message, 0); // body length
    u32(message, 1); // serial
    u32(message, quint32(fields.size()));
    message.append(fields);
    pad(message);
    return message;
}

std::chrono::milliseconds left(const QDeadlineTimer& bound)
{
    return std::chrono::milliseconds(qMax<qint64>(1, bound.remainingTime()));
}

// What the bytes the bus sent so far say.
enum class Greeting { Partial, Answered, Refused };

// Whether `bytes` start with the bus's reply to Hello (serial 1): a whole
// METHOD_RETURN carrying that reply serial and a unique name (a string body).
// The bus may send a signal or two around it (NameAcquired); anything that is
// not a D-Bus message, or an ERROR to Hello, refuses.
Greeting helloReply(const QByteArray& bytes)
{
    qsizetype at = 0;
    while (bytes.size() - at >= 16) {
        const auto* data = reinterpret_cast<const uchar*>(bytes.constData()) + at;
        const qsizetype available = bytes.size() - at;
        const bool little = data[0] == 'l';
        if ((!little && data[0] != 'B') || data[1] < 1 || data[1] > 4 || data[3] != 1)
            return Greeting::Refused;
        const auto u32 = [&](qsizetype offset) {
            return little ? qFromLittleEndian<quint32>(data + offset) : qFromBigEndian<quint32>(data + offset);
        };
        const quint32 bodyLength = u32(4);
        const quint32 fieldsLength = u32(12);
        // The greeting is small; a length past what is read at most is no greeting.
        if (bodyLength > 4096 || fieldsLength > 4096)
            return Greeting::Refused;
        const qsizetype fieldsEnd = 16 + qsizetype(fieldsLength);
        const qsizetype bodyAt = (fieldsEnd + 7) & ~qsizetype(7);
        const qsizetype total = bodyAt + qsizetype(bodyLength);
        if (available < total)
            return Greeting::Partial;
        std::optional<quint32> replySerial;
        QByteArray signature;
        qsizetype offset = 16;
        while (offset < fieldsEnd) {
            offset = (offset + 7) & ~qsizetype(7);
            // The code, then a variant: a one-type signature and its value.
            if (offset + 4 > fieldsEnd || data[offset + 1] != 1 || data[offset + 3] != 0)
                return Greeting::Refused;
            const uchar code = data[offset];
            const char type = char(data[offset + 2]);
            offset += 4;
            if (type == 's' || type == 'o') {
                offset = (offset + 3) & ~qsizetype(3);
                if (offset + 4 > fieldsEnd)
                    return Greeting::Refused;
                const qsizetype length = u32(offset);
                if (length > fieldsEnd - offset - 5 || data[offset + 4 + length] != 0)
                    return Greeting::Refused;
                offset += 4 + length + 1;
            } else if (type == 'g') {
                if (offset + 1 > fieldsEnd)
                    return Greeting::Refused;
                const qsizetype length = data[offset];
                if (length > fieldsEnd - offset - 2 || data[offset + 1 + length] != 0)
                    return Greeting::Refused;
                if (code == 8)
                    signature = QByteArray(reinterpret_cast<const char*>(data + offset + 1), length);
                offset += 1 + length + 1;
            } else if (type == 'u') {
                offset = (offset + 3) & ~qsizetype(3);
                if (offset + 4 > fieldsEnd)
                    return Greeting::Refused;
                if (code == 5)
                    replySerial = u32(offset);
                offset += 4;
            } else {
                return Greeting::Refused;
            }
        }
        if (offset != fieldsEnd)
            return Greeting::Refused;
        if (replySerial == 1u) {
            if (data[1] != 2 || signature != "s" || bodyLength < 5)
                return Greeting::Refused;
            const quint32 nameLength = u32(bodyAt);
            if (nameLength == 0 || nameLength > bodyLength - 5 || data[bodyAt + 4] != ':'
                || data[bodyAt + 4 + nameLength] != 0)
                return Greeting::Refused;
            return Greeting::Answered;
        }
        at += total;
    }
    return Greeting::Partial;
}

// The bus's answer to the authentication: its one line, starting "OK ".
Greeting authenticated(const QByteArray& bytes)
{
    if (!bytes.contains("\r\n"))
        return Greeting::Partial;
    return bytes.startsWith("OK ") ? Greeting::Answered : Greeting::Refused;
}

// Reads what the bus sends until `judge` says it answered (true) or refused;
// false as well when the bus closes or the bound passes first.
QCoro::Task<bool> readAnswer(QIODevice* device, Greeting (*judge)(const QByteArray&), QDeadlineTimer bound)
{
    QByteArray answer;
    for (;;) {
        switch (judge(answer)) {
        case Greeting::Answered:
            co_return true;
        case Greeting::Refused:
            co_return false;
        case Greeting::Partial:
            break;
        }
        if (bound.hasExpired() || answer.size() >= 4096)
            co_return false;
        auto reading = qCoro(device).waitForReadyRead(left(bound));
        if (!co_await std::move(reading))
            co_return false;
        answer.append(device->readAll());
    }
}

// Whether the bus takes a new connection in time: authenticated as this user
// and greeted with Hello, it answers. Qt's own connection (made only after
// this) waits up to 25 s for each step, and at quit the process waits for it.
QCoro::Task<bool> busAnswers(BusAddress address)
{
    const QDeadlineTimer bound(kBusTimeoutMs);
    std::unique_ptr<QIODevice> device;
    if (address.kind == BusAddress::Kind::Tcp) {
        auto* socket = new QTcpSocket;
        device.reset(socket);
        socket->connectToHost(address.name, address.port);
        auto connecting = qCoro(socket).waitForConnected(left(bound));
        if (!co_await std::move(connecting))
            co_return false;
    } else {
        auto* socket = new QLocalSocket;
        device.reset(socket);
        if (address.kind == BusAddress::Kind::Abstract)
            socket->setSocketOptions(QLocalSocket::AbstractNamespaceOption);
        auto connecting = qCoro(socket).connectToServer(address.name, QIODevice::ReadWrite, left(bound));
        if (!co_await std::move(connecting))
            co_return false;
    }
    device->write(QByteArray("\0AUTH EXTERNAL ", 15) + QByteArray::number(getuid()).toHex() + "\r\n");
    auto authenticating = readAnswer(device.get(), authenticated, bound);
    if (!co_await std::move(authenticating))
        co_return false;
    // Only the bus's own reply to Hello will do: Qt's connection waits for
    // it, so a bus that sends anything else would hold that up in its turn.
    device->write("BEGIN\r\n" + helloMessage());
    auto greeted = readAnswer(device.get(), helloReply, bound);
    const bool answers = co_await std::move(greeted);
    co_return answers;
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
    auto checking = systemBusAnswers();
    if (co_await std::move(checking)) {
        auto calling = offMainThread([] { return call(); });
        name = co_await std::move(calling);
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

QCoro::Task<bool> systemBusAnswers()
{
    const std::optional<BusAddress> address = systemBusAddress();
    if (!address)
        co_return false;
    auto checking = busAnswers(*address);
    const bool answers = co_await std::move(checking);
    co_return answers;
}

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
