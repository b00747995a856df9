#include "core/platform/DeskCrumbs.h"

#include "core/platform/CredentialRedaction.h"
#include "core/platform/TolvarinePaths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace DeskCrumbs {

QString logPath()
{
    return TolvarinePaths::homeFile(QStringLiteral("desktop.log"));
}

void drop(const QString& message)
{
    // A password written into an address never reaches the log.
    const QByteArray line = (QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")) + QLatin1Char(' ')
        + CredentialRedaction::hideUserInfo(message) + QLatin1Char('\n'))
                                .toUtf8();
    // Calls come from the GUI thread and from child-exit handlers on other
    // threads; one lock keeps their lines whole and in order.
    static QMutex mutex;
    const QMutexLocker lock(&mutex);
    // Append mode creates the file when it is missing and never truncates an
    // existing one; a file that cannot be opened (read-only) is left alone,
    // and so is anything but a regular file: opening a named pipe without a
    // reader would hold up the caller, which is often the GUI thread.
    const int fd = ::open(QFile::encodeName(logPath()).constData(),
        O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0)
        return;
    struct stat st { };
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        qsizetype done = 0;
        while (done < line.size()) {
            const ssize_t n = ::write(fd, line.constData() + done, size_t(line.size() - done));
            if (n <= 0)
                break;
            done += n;
        }
    }
    ::close(fd);
}

} // namespace DeskCrumbs
