#include "runtimes/ProcessSignals.h"

#include "app/DeskCrumbs.h"
#include "platform/ProcessTable.h"

#include <QDeadlineTimer>
#include <QThread>

#include <csignal>

namespace ProcessSignals {

bool isAlive(pid_t pid)
{
    if (pid < 2 || ::kill(pid, 0) != 0)
        return false;
    // A process that has exited stays signallable until its parent reaps it;
    // it is gone all the same.
    const std::optional<ProcessTable::Entry> e = ProcessTable::entry(pid);
    return !e || e->state != 'Z';
}

void terminate(pid_t pid, double graceSeconds)
{
    if (pid < 2)
        return;
    ::kill(pid, SIGTERM);
    QDeadlineTimer deadline(qint64(graceSeconds * 1000));
    while (!deadline.hasExpired()) {
        if (!isAlive(pid))
            return;
        QThread::msleep(100);
    }
    if (isAlive(pid)) {
        DeskCrumbs::drop(QStringLiteral("child.kill pid=%1 宽限期内没退出，SIGKILL").arg(pid));
        ::kill(pid, SIGKILL);
    }
}

} // namespace ProcessSignals
