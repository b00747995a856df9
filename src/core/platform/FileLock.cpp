#include "core/platform/FileLock.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

FileLock::~FileLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}
