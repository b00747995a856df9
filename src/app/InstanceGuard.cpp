#include "app/InstanceGuard.h"

#include "core/platform/DeskCrumbs.h"
#include "core/platform/FileLock.h"
#include "core/platform/ProcessTable.h"
#include "core/platform/TolvarinePaths.h"
#include "core/workspaces/RelocationState.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr char kSocketName[] = "desktop.sock";
// A request is one line; a peer that sends more without ending it is not a launch.
constexpr qint64 kRequestCap = 64 * 1024;

// The socket's name through an open descriptor of its folder: a socket
// address holds about 100 bytes, a home's path may hold more.
QString socketName(int folder)
{
    return QStringLiteral("/proc/self/fd/%1/%2").arg(folder).arg(QLatin1String(kSocketName));
}

int openFolder(const QString& path)
{
    return ::open(QFile::encodeName(path).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// The address of the socket `name`; none when it is longer than an address holds.
std::optional<sockaddr_un> socketAddress(const QString& name)
{
    const QByteArray path = QFile::encodeName(name);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= qsizetype(sizeof address.sun_path))
        return std::nullopt;
    std::memcpy(address.sun_path, path.constData(), path.size());
    return address;
}

// The process at the other end of a local socket, when it runs as this user.
std::optional<pid_t> sameUser(int socket)
{
    struct ucred peer { };
    socklen_t size = sizeof peer;
    if (::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::geteuid())
        return std::nullopt;
    return peer.pid;
}

bool stopped(pid_t pid)
{
    const std::optional<ProcessTable::Entry> entry = ProcessTable::entry(pid);
    return entry && (entry->state == 'T' || entry->state == 't');
}

// A non-blocking socket connected to `name` within `ms`, or -1.
int connectTo(const QString& name, int ms)
{
    const std::optional<sockaddr_un> address = socketAddress(name);
    if (!address)
        return -1;
    const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (socket < 0)
        return -1;
    const QDeadlineTimer bound(ms);
    for (;;) {
        if (::connect(socket, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) == 0)
            return socket;
        // EAGAIN: the instance has yet to take the connections queued before this one.
        if ((errno != EAGAIN && errno != EINTR) || bound.hasExpired())
            break;
        if (errno == EAGAIN)
            QThread::msleep(10);
    }
    ::close(socket);
    return -1;
}

enum class HandOver { Done, NoListener, NotAnswering, Stranger };

// One try at handing this launch to the instance listening in `folder`. There
// is no window yet: the waits block, each bounded.
HandOver handOver(const QString& folder, const QByteArray& request, pid_t* holder)
{
    const int fd = openFolder(folder);
    if (fd < 0)
        return HandOver::NoListener;
    const int socket = connectTo(socketName(fd), 500);
    ::close(fd);
    if (socket < 0)
        return HandOver::NoListener;
    const auto closeSocket = qScopeGuard([socket] { ::close(socket); });
    const std::optional<pid_t> peer = sameUser(socket);
    if (!peer)
        return HandOver::Stranger;
    *holder = *peer;
    QByteArray unsent = request;
    // What came back, cut short while it has no line end: only the first
    // line counts, and "ok\n" is all it may be.
    QByteArray answer;
    bool open = true;
    // A running window answers within a turn of its event loop; one that is
    // still building its first frame may take a while. A stopped one never
    // answers, and is told apart at once.
    const QDeadlineTimer bound(20000);
    while (!bound.hasExpired()) {
        if (const qsizetype end = answer.indexOf('\n'); end >= 0)
            return answer.left(end + 1) == "ok\n" ? HandOver::Done : HandOver::NoListener;
        // Closed without an answer: the instance is quitting.
        if (!open)
            return HandOver::NoListener;
        if (stopped(*peer))
            return HandOver::NotAnswering;
        pollfd watched { socket, short(POLLIN | (unsent.isEmpty() ? 0 : POLLOUT)), 0 };
        if (::poll(&watched, 1, 100) <= 0)
            continue;
        if (!unsent.isEmpty() && (watched.revents & POLLOUT)) {
            const ssize_t sent = ::send(socket, unsent.constData(), size_t(unsent.size()), MSG_NOSIGNAL);
            if (sent > 0)
                unsent.remove(0, sent);
            else if (sent < 0 && errno != EAGAIN && errno != EINTR)
                open = false;
        }
        if (watched.revents & (POLLIN | POLLHUP | POLLERR)) {
            char chunk[256];
            const ssize_t got = ::recv(socket, chunk, sizeof chunk, 0);
            if (got > 0) {
                answer.append(chunk, got);
                if (!answer.contains('\n'))
                    answer.truncate(8);
            } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                open = false;
            }
        }
    }
    return HandOver::NotAnswering;
}

// One connection from a later launch; it goes at the next turn of the event
// loop once ended.
class Connection : public QObject {
public:
    Connection(int socket, QObject* parent)
        : QObject(parent)
        , m_socket(socket)
        , m_notifier(socket, QSocketNotifier::Read, this)
    {
        QObject::connect(&m_notifier, &QSocketNotifier::activated, this, [this] { readSome(); });
    }
    ~Connection() override { close(); }

    int socket() const { return m_socket; }
    // Called with the request's first line, its line end included.
    std::function<void(const QByteArray&)> lineRead;

    void answer(const char* text)
    {
        if (m_socket >= 0)
            (void)::send(m_socket, text, std::strlen(text), MSG_NOSIGNAL | MSG_DONTWAIT);
        end();
    }
    void end()
    {
        close();
        deleteLater();
    }

private:
    void close()
    {
        if (m_socket < 0)
            return;
        m_notifier.setEnabled(false);
        ::close(m_socket);
        m_socket = -1;
    }

    void readSome()
    {
        bool hungUp = false;
        char chunk[4096];
        // What is there is read (as much as a socket's buffer holds, so that a
        // peer that keeps sending cannot hold the loop), and closing does not
        // reset the connection under the answer; past the cap it is dropped.
        for (int chunks = 0; chunks < 64; ++chunks) {
            const ssize_t got = ::read(m_socket, chunk, sizeof chunk);
            if (got > 0) {
                if (m_request.size() <= kRequestCap)
                    m_request.append(chunk, got);
                continue;
            }
            if (got < 0 && errno == EINTR)
                continue;
            hungUp = got == 0 || errno != EAGAIN;
            break;
        }
        const qsizetype at = m_request.indexOf('\n');
        if (at >= 0) {
            m_notifier.setEnabled(false);
            if (lineRead)
                lineRead(m_request.left(at + 1));
            return;
        }
        if (hungUp || m_request.size() > kRequestCap)
            end();
    }

    int m_socket;
    QSocketNotifier m_notifier;
    QByteArray m_request;
};

} // namespace

// The listening socket. It is bound in the stores' folder, open as `folder`,
// and removed from there when closed, as a local server's socket is.
class InstanceGuard::Listener : public QObject {
public:
    Listener(int folder, QObject* parent)
        : QObject(parent)
        , m_folder(folder)
    {
    }
    ~Listener() override { close(); }

    // Called with each new connection, which this object owns.
    std::function<void(Connection*)> connected;

    // Why not, when it cannot listen.
    bool listen(QString* why)
    {
        const std::optional<sockaddr_un> address = socketAddress(socketName(m_folder));
        if (!address) {
            *why = qt_error_string(ENAMETOOLONG);
            return false;
        }
        // The lock is ours: a socket left there is a crashed instance's.
        ::unlinkat(m_folder, kSocketName, 0);
        const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (socket < 0) {
            *why = qt_error_string(errno);
            return false;
        }
        if (::bind(socket, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
            *why = qt_error_string(errno);
            ::close(socket);
            return false;
        }
        // For this user alone, before anyone can connect.
        if (::fchmodat(m_folder, kSocketName, S_IRWXU, 0) != 0 || ::listen(socket, 50) != 0) {
            *why = qt_error_string(errno);
            ::close(socket);
            ::unlinkat(m_folder, kSocketName, 0);
            return false;
        }
        m_socket = socket;
        m_notifier = new QSocketNotifier(socket, QSocketNotifier::Read, this);
        QObject::connect(m_notifier, &QSocketNotifier::activated, this, [this] { accept(); });
        return true;
    }

private:
    void accept()
    {
        for (;;) {
            const int socket = ::accept4(m_socket, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (socket >= 0) {
                auto* connection = new Connection(socket, this);
                if (connected)
                    connected(connection);
                continue;
            }
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno != EAGAIN) {
                // Out of descriptors, say: the socket goes, and the watch on
                // it listens again.
                DeskCrumbs::drop(QStringLiteral("app.instance: 接不了连接（%1）").arg(qt_error_string(errno)));
                close();
            }
            return;
        }
    }

    void close()
    {
        if (m_socket < 0)
            return;
        // Possibly from within its own signal.
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
        ::close(m_socket);
        m_socket = -1;
        ::unlinkat(m_folder, kSocketName, 0);
    }

    const int m_folder;
    int m_socket = -1;
    QSocketNotifier* m_notifier = nullptr;
};

InstanceGuard::InstanceGuard(QObject* parent)
    : QObject(parent)
{
}

InstanceGuard::~InstanceGuard()
{
    // The lock stays: it goes with the process, not with this object.
    stopListening();
}

InstanceGuard::Claim InstanceGuard::claim(const QStringList& arguments)
{
    const QString home = TolvarinePaths::productHome();
    const QString folder = TolvarinePaths::dotTolvarine();
    const int lock = ::open(QFile::encodeName(home).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lock < 0) {
        DeskCrumbs::drop(
            QStringLiteral("app.instance: 打不开 %1（%2），不防第二个实例").arg(home, qt_error_string(errno)));
        return Claim::Instance;
    }

    QJsonObject request;
    const qsizetype at = arguments.indexOf(QLatin1String(RelocationState::kRelocateArgument));
    if (at >= 0 && at + 1 < arguments.size())
        request.insert(QStringLiteral("relocateTo"), QFileInfo(arguments.at(at + 1)).absoluteFilePath());
    const QByteArray line = QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n';

    // The lock only this user can open, beside the folder's: held by every
    // instance, and the one that counts when the folder's is another user's.
    QDir().mkpath(folder);
    const int fallback = ::open(QFile::encodeName(InstanceLock::fallbackPath(home)).constData(),
        O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);

    // The instance may have taken the lock a moment ago and not listen yet,
    // or be quitting (it listens no more): the lock is free once it has ended.
    const QDeadlineTimer bound(10000);
    for (;;) {
        const bool homeLocked = ::flock(lock, LOCK_EX | LOCK_NB) == 0;
        const int why = errno;
        // Anyone who can read the folder can lock it: a lock another user's
        // process holds is no instance of this user's.
        const bool stranger = !homeLocked && why == EWOULDBLOCK && !FileLock::heldForThisUser(lock);
        const bool ours = homeLocked || stranger;
        // The lock file can be removed with the stores' folder, and a new one
        // taken: an instance listening there is asked first.
        pid_t listener = 0;
        if (stranger && handOver(folder, line, &listener) == HandOver::Done) {
            ::close(lock);
            if (fallback >= 0)
                ::close(fallback);
            return Claim::HandedOver;
        }
        if (ours && (fallback < 0 || ::flock(fallback, LOCK_EX | LOCK_NB) == 0)) {
            if (stranger) {
                DeskCrumbs::drop(QStringLiteral("app.instance: 别的用户的进程锁着 %1，不算数；靠 %2 防第二个实例")
                                     .arg(home, InstanceLock::fallbackPath(home)));
                // Shared with the stranger's where theirs is shared too: a later
                // launch then finds this user's instance among the folder's
                // holders whatever became of the stores' folder.
                ::flock(lock, LOCK_SH | LOCK_NB);
            }
            // Never closed: the system lets go of the locks when the process ends.
            m_locked = true;
            // A launch while this one quits waits for the lock instead.
            connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
                m_quitting = true;
                delete m_watcher;
                m_watcher = nullptr;
                stopListening();
            });
            return Claim::Instance;
        }
        // Another instance of this user's holds the lock only this user can open.
        if (homeLocked)
            ::flock(lock, LOCK_UN);
        if (!ours && why != EWOULDBLOCK && why != EINTR) {
            DeskCrumbs::drop(QStringLiteral("app.instance: 锁不上（%1），不防第二个实例").arg(qt_error_string(why)));
            ::close(lock);
            if (fallback >= 0)
                ::close(fallback);
            return Claim::Instance;
        }
        pid_t holder = 0;
        const HandOver outcome = handOver(folder, line, &holder);
        if (outcome == HandOver::Done) {
            ::close(lock);
            if (fallback >= 0)
                ::close(fallback);
            return Claim::HandedOver;
        }
        if (outcome == HandOver::NotAnswering) {
            m_refusal = QStringLiteral(
                "Tolvarine Desktop 已经在运行（进程 %1），但它没有回应：窗口没能提到前面，这次启动也不再开一个。"
                "请切到那个窗口，或结束那个进程后再启动。")
                            .arg(holder);
            break;
        }
        if (outcome == HandOver::Stranger) {
            m_refusal = QStringLiteral(
                "Tolvarine Desktop 已经在运行，但在 %1 听着的不是你自己的进程：这次启动没有交过去，也不再开一个。")
                            .arg(QDir(folder).filePath(QLatin1String(kSocketName)));
            break;
        }
        if (bound.hasExpired()) {
            m_refusal = QStringLiteral(
                "Tolvarine Desktop 已经在运行，但联系不上它（%1）：窗口没能提到前面，这次启动也不再开一个。"
                "请切到那个窗口，或等它退出后再启动。")
                            .arg(QDir(folder).filePath(QLatin1String(kSocketName)));
            break;
        }
        QThread::msleep(100);
    }
    ::close(lock);
    if (fallback >= 0)
        ::close(fallback);
    DeskCrumbs::drop(QStringLiteral("app.instance: ") + m_refusal);
    return Claim::Refused;
}

void InstanceGuard::startListening()
{
    if (m_locked && !m_quitting && !m_server)
        listen();
}

void InstanceGuard::listen()
{
    stopListening();
    m_socketInode = 0;
    const QString folder = TolvarinePaths::dotTolvarine();
    const QString path = QDir(folder).filePath(QLatin1String(kSocketName));
    // Removing the socket (or the whole stores' folder) must not leave later
    // launches with no one to hand over to.
    if (!m_watcher) {
        m_watcher = new QFileSystemWatcher(this);
        connect(m_watcher, &QFileSystemWatcher::fileChanged, this, &InstanceGuard::checkSocket);
        connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &InstanceGuard::checkSocket);
    }
    m_folder = openFolder(folder);
    if (m_folder < 0) {
        DeskCrumbs::drop(QStringLiteral("app.instance: 打不开 %1（%2）").arg(folder, qt_error_string(errno)));
        return;
    }
    m_server = new Listener(m_folder, this);
    QString why;
    struct stat bound { };
    const bool listening = m_server->listen(&why);
    if (!listening || ::fstatat(m_folder, kSocketName, &bound, AT_SYMLINK_NOFOLLOW) != 0) {
        DeskCrumbs::drop(
            QStringLiteral("app.instance: 监听不了 %1（%2）").arg(path, listening ? qt_error_string(errno) : why));
        // Most likely the folder went while it was being made again: a few
        // more tries, not one per change in the folder.
        if (m_retries++ < 3)
            QTimer::singleShot(1000, this, [this] {
                if (!m_quitting)
                    listen();
            });
        return;
    }
    m_retries = 0;
    m_socketDevice = bound.st_dev;
    m_socketInode = bound.st_ino;
    for (const QString& watched : { folder, path }) {
        if (!m_watcher->files().contains(watched) && !m_watcher->directories().contains(watched))
            m_watcher->addPath(watched);
    }
    m_server->connected = [this](Connection* connection) {
        // A launch says what it wants at once: a peer that says nothing
        // does not keep its connection for the life of the window.
        QTimer::singleShot(5000, connection, [connection] { connection->end(); });
        if (!sameUser(connection->socket())) {
            DeskCrumbs::drop(QStringLiteral("app.instance: 别的用户连了进来，不理"));
            connection->end();
            return;
        }
        connection->lineRead = [this, connection](const QByteArray& line) {
            const QPointer<Connection> alive(connection);
            const QJsonObject request = QJsonDocument::fromJson(line).object();
            const QJsonValue folder = request.value(QStringLiteral("relocateTo"));
            const QString relocateTo = folder.isString() ? folder.toString() : QString();
            DeskCrumbs::drop(QStringLiteral("app.instance: 又启动了一次，窗口提到前面")
                + (relocateTo.isEmpty() ? QString() : QStringLiteral("，-ZRKRelocateTo ") + relocateTo));
            emit comeForwardAsked(relocateTo);
            if (alive)
                alive->answer("ok\n");
        };
    };
}

void InstanceGuard::checkSocket()
{
    // Not listening: the tries after a failure are under way or spent.
    if (m_quitting || !m_locked || m_socketInode == 0)
        return;
    const QString path = QDir(TolvarinePaths::productHome()).filePath(QStringLiteral(".tolvarine/") + kSocketName);
    struct stat now { };
    if (::lstat(QFile::encodeName(path).constData(), &now) == 0 && now.st_dev == m_socketDevice
        && now.st_ino == m_socketInode) {
        return;
    }
    DeskCrumbs::drop(QStringLiteral("app.instance: %1 不见了，重新监听").arg(path));
    listen();
}

void InstanceGuard::stopListening()
{
    // Closing removes the socket through the folder's descriptor, so it is
    // closed first.
    delete m_server;
    m_server = nullptr;
    if (m_folder >= 0)
        ::close(m_folder);
    m_folder = -1;
}
