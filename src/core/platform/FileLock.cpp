#include "core/platform/FileLock.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// Whether the descriptor is still the file at `path`.
bool stillThere(int fd, const QByteArray& path)
{
    struct stat held { };
    struct stat now { };
    return ::fstat(fd, &held) == 0 && ::stat(path.constData(), &now) == 0 && held.st_dev == now.st_dev
        && held.st_ino == now.st_ino;
}

} // namespace

FileLock::FileLock(const QString& path, int timeoutMs, const std::atomic<qint64>* endAt)
{
    const auto cut = [endAt] {
        const qint64 at = endAt ? endAt->load() : 0;
        return at != 0 && QDateTime::currentMSecsSinceEpoch() >= at;
    };
    const QByteArray name = QFile::encodeName(path);
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) {
            m_error = qt_error_string(errno);
            return;
        }
        int taken = -1;
        do {
            taken = ::flock(fd, LOCK_EX | LOCK_NB);
        } while (taken != 0 && errno == EINTR);
        if (taken == 0 && stillThere(fd, name)) {
            m_fd = fd;
            return;
        }
        const int why = errno;
        ::close(fd);
        if (taken != 0 && why != EWOULDBLOCK) {
            m_error = qt_error_string(why);
            return;
        }
        if (deadline.hasExpired() || cut()) {
            m_busy = true;
            m_error = QStringLiteral("另一个进程一直占着 %1").arg(path);
            return;
        }
        if (taken != 0)
            QThread::msleep(10);
    }
}

QList<qint64> FileLock::flockHolders(const QByteArray& locks, quint64 device, quint64 inode)
{
    // "1: FLOCK  ADVISORY  READ  1234 08:01:5678 0 EOF": the device in hex
    // major:minor, the inode in decimal. Waiters ("1: -> FLOCK …") hold nothing.
    QList<qint64> onDevice;
    QList<qint64> anyDevice;
    for (const QByteArray& line : locks.split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() < 6 || words.at(1) != "FLOCK")
            continue;
        const QList<QByteArray> file = words.at(5).split(':');
        bool isInode = false;
        if (file.size() != 3 || file.at(2).toULongLong(&isInode) != inode || !isInode)
            continue;
        const qint64 pid = words.at(4).toLongLong();
        bool isMajor = false;
        bool isMinor = false;
        if (file.at(0).toUInt(&isMajor, 16) == major(dev_t(device)) && isMajor
            && file.at(1).toUInt(&isMinor, 16) == minor(dev_t(device)) && isMinor)
            onDevice.append(pid);
        else
            anyDevice.append(pid);
    }
    return onDevice.isEmpty() ? anyDevice : onDevice;
}

bool FileLock::heldForThisUser(int fd)
{
    struct stat held { };
    if (::fstat(fd, &held) != 0)
        return true;
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return true;
    const QList<qint64> holders = flockHolders(locks.readAll(), quint64(held.st_dev), quint64(held.st_ino));
    if (holders.isEmpty())
        return true;
    for (const qint64 pid : std::as_const(holders)) {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (pid <= 0 || !status.open(QIODevice::ReadOnly))
            return true;
        uint uid = 0;
        bool read = false;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("Uid:")) {
                // real, effective, saved, file system: the effective one is who it acts as.
                const QList<QByteArray> ids = line.mid(4).simplified().split(' ');
                uid = ids.value(1).toUInt(&read);
            }
        }
        if (!read || uid == ::geteuid())
            return true;
    }
    return false;
}

FileLock::~FileLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

namespace InstanceLock {

QString fallbackPath(const QString& home)
{
    return QDir(home).filePath(QStringLiteral(".tolvarine/desktop.lock"));
}

std::optional<bool> held(const QString& home)
{
    const int folder = ::open(QFile::encodeName(home).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return std::nullopt;
    bool busy = ::flock(folder, LOCK_EX | LOCK_NB) != 0 && FileLock::heldForThisUser(folder);
    ::close(folder);
    if (busy)
        return true;
    const int fallback = ::open(QFile::encodeName(fallbackPath(home)).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fallback >= 0) {
        busy = ::flock(fallback, LOCK_EX | LOCK_NB) != 0;
        ::close(fallback);
    }
    return busy;
}

} // namespace InstanceLock
