#include "core/platform/DeskCrumbs.h"

#include "core/platform/TolvarinePaths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMutex>

namespace DeskCrumbs {

QString logPath()
{
    return TolvarinePaths::homeFile(QStringLiteral("desktop.log"));
}

void drop(const QString& message)
{
    const QByteArray line = (QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")) + QLatin1Char(' ')
                             + message + QLatin1Char('\n'))
                                .toUtf8();
    // Calls come from the GUI thread and from child-exit handlers on other
    // threads; one lock keeps their lines whole and in order.
    static QMutex mutex;
    const QMutexLocker lock(&mutex);
    // Append mode creates the file when it is missing and never truncates an
    // existing one; a file that cannot be opened (read-only) is left alone.
    QFile f(logPath());
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    f.write(line);
    f.close();
}

} // namespace DeskCrumbs
