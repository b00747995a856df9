#include "app/InstanceGuard.h"

#include "core/platform/DeskCrumbs.h"
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
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
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

// The process at the other end of a local socket, when it runs as this user.
std::optional<pid_t> sameUser(qintptr socket)
{
    struct ucred peer { };
    socklen_t size = sizeof peer;
    if (::getsockopt(int(socket), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::geteuid())
        return std::nullopt;
    return peer.pid;
}

bool stopped(pid_t pid)
{
    const std::optional<ProcessTable::Entry> entry = ProcessTable::entry(pid);
    return entry && (entry->state == 'T' || entry->state == 't');
}

enum class HandOver { Done, NoListener, NotAnswering, Stranger };

// One try at handing this launch to the instance listening in `folder`.
HandOver handOver(const QString& folder, const QByteArray& request, pid_t* holder)
{
    const int fd = openFolder(folder);
    if (fd < 0)
        return HandOver::NoListener;
    QLocalSocket socket;
    socket.connectToServer(socketName(fd));
    const bool connected = socket.waitForConnected(500);
    ::close(fd);
    if (!connected)
        return HandOver::NoListener;
    const std::optional<pid_t> peer = sameUser(socket.socketDescriptor());
    if (!peer)
        return HandOver::Stranger;
    *holder = *peer;
    socket.write(request);
    // A running window answers within a turn of its event loop; one that is
    // still building its first frame may take a while. A stopped one never
    // answers, and is told apart at once.
    const QDeadlineTimer bound(20000);
    while (!bound.hasExpired()) {
        if (socket.canReadLine())
            return socket.readLine() == "ok\n" ? HandOver::Done : HandOver::NoListener;
        // Closed without an answer: the instance is quitting.
        if (socket.state() != QLocalSocket::ConnectedState)
            return HandOver::NoListener;
        if (stopped(*peer))
            return HandOver::NotAnswering;
        socket.waitForReadyRead(100);
    }
    return HandOver::NotAnswering;
}

} // namespace

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

    // The instance may have taken the lock a moment ago and not listen yet,
    // or be quitting (it listens no more): the lock is free once it has ended.
    const QDeadlineTimer bound(10000);
    for (;;) {
        if (::flock(lock, LOCK_EX | LOCK_NB) == 0) {
            // Never closed: the system lets go of the lock when the process ends.
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
        if (errno != EWOULDBLOCK && errno != EINTR) {
            DeskCrumbs::drop(QStringLiteral("app.instance: 锁不上（%1），不防第二个实例").arg(qt_error_string(errno)));
            ::close(lock);
            return Claim::Instance;
        }
        pid_t holder = 0;
        const HandOver outcome = handOver(folder, line, &holder);
        if (outcome == HandOver::Done) {
            ::close(lock);
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
    const QString name = socketName(m_folder);
    // The lock is ours: a socket left there is a crashed instance's.
    QLocalServer::removeServer(name);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    struct stat bound { };
    if (!m_server->listen(name) || ::fstatat(m_folder, kSocketName, &bound, AT_SYMLINK_NOFOLLOW) != 0) {
        DeskCrumbs::drop(QStringLiteral("app.instance: 监听不了 %1（%2）").arg(path, m_server->errorString()));
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
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            // A launch says what it wants at once: a peer that says nothing
            // does not keep its connection for the life of the window.
            QTimer::singleShot(5000, socket, &QLocalSocket::abort);
            if (!sameUser(socket->socketDescriptor())) {
                DeskCrumbs::drop(QStringLiteral("app.instance: 别的用户连了进来，不理"));
                socket->disconnectFromServer();
                continue;
            }
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine()) {
                    if (socket->bytesAvailable() > kRequestCap)
                        socket->disconnectFromServer();
                    return;
                }
                const QJsonObject request = QJsonDocument::fromJson(socket->readLine()).object();
                const QJsonValue folder = request.value(QStringLiteral("relocateTo"));
                const QString relocateTo = folder.isString() ? folder.toString() : QString();
                DeskCrumbs::drop(QStringLiteral("app.instance: 又启动了一次，窗口提到前面")
                    + (relocateTo.isEmpty() ? QString() : QStringLiteral("，-ZRKRelocateTo ") + relocateTo));
                emit comeForwardAsked(relocateTo);
                socket->write("ok\n");
                socket->disconnectFromServer();
            });
        }
    });
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
