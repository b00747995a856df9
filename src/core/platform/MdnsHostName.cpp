#include "core/platform/MdnsHostName.h"

#include "core/platform/LoopPause.h"
#include "core/platform/OffMainThread.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QFile>
#include <QFutureWatcher>
#include <QPointer>
#include <QtEndian>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <utility>

#include <cerrno>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
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

// A socket that closes when it goes.
class Socket {
public:
    Socket() = default;
    explicit Socket(int fd)
        : m_fd(fd)
    {
    }
    ~Socket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Socket(Socket&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1))
    {
    }
    Socket& operator=(Socket&& other) noexcept
    {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    int fd() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// Waits until `fd` reports `events` (or an error or hang-up, which the next
// read or write then meets); false when the bound passes first.
bool ready(int fd, short events, const QDeadlineTimer& bound)
{
    for (;;) {
        if (bound.hasExpired())
            return false;
        pollfd watched { fd, events, 0 };
        const int count = ::poll(&watched, 1, int(left(bound).count()));
        if (count > 0)
            return true;
        if (count < 0 && errno != EINTR)
            return false;
    }
}

// Connects a new non-blocking socket to `address` within the bound.
Socket connectTo(int family, const sockaddr* address, socklen_t size, const QDeadlineTimer& bound)
{
    Socket socket(::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket)
        return {};
    for (;;) {
        if (::connect(socket.fd(), address, size) == 0)
            return socket;
        if (errno == EAGAIN && family == AF_UNIX) {
            // The bus's backlog is full: it takes a connection again once it
            // has accepted one.
            if (bound.hasExpired())
                return {};
            ::poll(nullptr, 0, int(qMin<qint64>(10, left(bound).count())));
            continue;
        }
        if (errno != EINPROGRESS && errno != EINTR)
            return {};
        int error = 0;
        socklen_t length = sizeof error;
        if (!ready(socket.fd(), POLLOUT, bound) || ::getsockopt(socket.fd(), SOL_SOCKET, SO_ERROR, &error, &length) != 0
            || error != 0)
            return {};
        return socket;
    }
}

Socket connectUnix(const QByteArray& name, bool abstract, const QDeadlineTimer& bound)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    // An abstract name starts with a zero byte and is exactly as long as it
    // is; a path ends with one.
    const qsizetype at = abstract ? 1 : 0;
    if (name.isEmpty() || at + name.size() + (abstract ? 0 : 1) > qsizetype(sizeof address.sun_path)
        || name.contains('\0'))
        return {};
    std::memcpy(address.sun_path + at, name.constData(), size_t(name.size()));
    const auto size = socklen_t(offsetof(sockaddr_un, sun_path) + at + name.size() + (abstract ? 0 : 1));
    return connectTo(AF_UNIX, reinterpret_cast<const sockaddr*>(&address), size, bound);
}

// The host's addresses in the order the resolver gives them, each tried in
// turn with what is left of the bound.
Socket connectTcp(const QString& host, quint16 port, const QDeadlineTimer& bound)
{
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.toUtf8().constData(), QByteArray::number(port).constData(), &hints, &found) != 0)
        return {};
    Socket socket;
    for (const addrinfo* entry = found; entry && !socket && !bound.hasExpired(); entry = entry->ai_next)
        socket = connectTo(entry->ai_family, entry->ai_addr, entry->ai_addrlen, bound);
    ::freeaddrinfo(found);
    return socket;
}

bool writeAll(int fd, const QByteArray& bytes, const QDeadlineTimer& bound)
{
    qsizetype at = 0;
    while (at < bytes.size()) {
        const ssize_t written = ::send(fd, bytes.constData() + at, size_t(bytes.size() - at), MSG_NOSIGNAL);
        if (written > 0) {
            at += written;
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && errno == EAGAIN) {
            if (!ready(fd, POLLOUT, bound))
                return false;
        } else {
            return false;
        }
    }
    return true;
}

// Reads what the bus sends until `judge` says it answered (true) or refused;
// false as well when the bus closes or the bound passes first. At most 4096
// bytes are read.
bool readAnswer(int fd, Greeting (*judge)(const QByteArray&), const QDeadlineTimer& bound)
{
    constexpr qsizetype kMost = 4096;
    QByteArray answer;
    for (;;) {
        switch (judge(answer)) {
        case Greeting::Answered:
            return true;
        case Greeting::Refused:
            return false;
        case Greeting::Partial:
            break;
        }
        if (bound.hasExpired() || answer.size() >= kMost || !ready(fd, POLLIN, bound))
            return false;
        // Everything there is now, up to the cap, is judged at once.
        for (;;) {
            char chunk[kMost];
            const ssize_t got = ::recv(fd, chunk, size_t(kMost - answer.size()), 0);
            if (got > 0) {
                answer.append(chunk, got);
                if (answer.size() >= kMost)
                    break;
            } else if (got < 0 && errno == EINTR) {
                continue;
            } else if (got < 0 && errno == EAGAIN) {
                break;
            } else {
                return false; // closed, or broken
            }
        }
    }
}

// The check itself, blocking up to the bound (the resolver's lookup of a tcp
// host may take longer; the awaiting side does not wait for that).
bool probe(const BusAddress& address, const QDeadlineTimer& bound)
{
    const Socket socket = address.kind == BusAddress::Kind::Tcp
        ? connectTcp(address.name, address.port, bound)
        : connectUnix(QFile::encodeName(address.name), address.kind == BusAddress::Kind::Abstract, bound);
    if (!socket)
        return false;
    const QByteArray authentication
        = QByteArray("\0AUTH EXTERNAL ", 15) + QByteArray::number(getuid()).toHex() + "\r\n";
    if (!writeAll(socket.fd(), authentication, bound) || !readAnswer(socket.fd(), authenticated, bound))
        return false;
    // Only the bus's own reply to Hello will do: Qt's connection waits for
    // it, so a bus that sends anything else would hold that up in its turn.
    return writeAll(socket.fd(), "BEGIN\r\n" + helloMessage(), bound) && readAnswer(socket.fd(), helloReply, bound);
}

// Whether the bus takes a new connection in time: authenticated as this user
// and greeted with Hello, it answers. Qt's own connection (made only after
// this) waits up to 25 s for each step, and at quit the process waits for it.
// The check runs off the GUI thread; this waits for it no longer than its
// bound, and a check still out then answers no.
QCoro::Task<bool> busAnswers(BusAddress address)
{
    const QDeadlineTimer bound(kBusTimeoutMs);
    const QFuture<bool> checked
        = QtConcurrent::run(offMainThreadPool(), [address, bound] { return probe(address, bound); });
    // The watcher only wakes the wait; what counts is the check's own state.
    QFutureWatcher<bool> watcher;
    watcher.setFuture(checked);
    if (!checked.isFinished()) {
        auto waiting = pauseLoop(&watcher, left(bound), &QFutureWatcherBase::finished);
        co_await std::move(waiting);
    }
    const bool answers = checked.isFinished() && checked.result();
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
