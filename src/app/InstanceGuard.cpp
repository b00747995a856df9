#include "app/InstanceGuard.h"

#include "core/platform/DeskCrumbs.h"
#include "core/platform/TolvarinePaths.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// Where the instance of this home listens: in the user's runtime folder, named
// after the home (a socket path inside it could pass the system's length limit).
QString serverName()
{
    const QString home = QFileInfo(TolvarinePaths::dotTolvarine()).canonicalFilePath();
    const QByteArray key = QCryptographicHash::hash(QFile::encodeName(home), QCryptographicHash::Sha256).toHex();
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QDir::tempPath();
    return folder + QStringLiteral("/tolvarine-desktop-") + QString::fromLatin1(key.left(16));
}

} // namespace

InstanceGuard::InstanceGuard(QObject* parent)
    : QObject(parent)
{
}

InstanceGuard::~InstanceGuard()
{
    if (m_lock >= 0)
        ::close(m_lock);
}

bool InstanceGuard::claim()
{
    const QByteArray path = QFile::encodeName(TolvarinePaths::dotTolvarine() + QStringLiteral("/desktop.lock"));
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        DeskCrumbs::drop(
            QStringLiteral("app.instance: 锁文件建不了（%1），不防第二个实例").arg(qt_error_string(errno)));
        return true;
    }
    // The instance may have taken the lock a moment ago and not listen yet,
    // or be quitting (it listens no more): the lock is free once it has ended.
    const QDeadlineTimer bound(10000);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            m_lock = fd;
            listen();
            return true;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            DeskCrumbs::drop(QStringLiteral("app.instance: 锁不上（%1），不防第二个实例").arg(qt_error_string(errno)));
            ::close(fd);
            return true;
        }
        QLocalSocket socket;
        socket.connectToServer(serverName());
        if (socket.waitForConnected(500)) {
            socket.write("forward\n");
            socket.waitForBytesWritten(500);
            ::close(fd);
            return false;
        }
        if (bound.hasExpired()) {
            ::close(fd);
            return false;
        }
        QThread::msleep(100);
    }
}

void InstanceGuard::listen()
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    const QString name = serverName();
    // The lock is ours: a socket left there is a crashed instance's.
    QLocalServer::removeServer(name);
    if (!m_server->listen(name)) {
        DeskCrumbs::drop(QStringLiteral("app.instance: 监听不了 %1（%2）").arg(name, m_server->errorString()));
        return;
    }
    // A launch while this one quits waits for the lock instead.
    connect(qApp, &QCoreApplication::aboutToQuit, m_server, &QLocalServer::close);
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine())
                    return;
                if (socket->readLine() != "forward\n") {
                    socket->disconnectFromServer();
                    return;
                }
                DeskCrumbs::drop(QStringLiteral("app.instance: 又启动了一次，窗口提到前面"));
                emit comeForwardAsked();
                socket->disconnectFromServer();
            });
        }
    });
}
