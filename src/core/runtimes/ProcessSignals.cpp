#include "core/runtimes/ProcessSignals.h"

#include "core/platform/DeskCrumbs.h"
#include "core/platform/ProcessTable.h"

#include <QDeadlineTimer>
#include <QScopeGuard>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <csignal>

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace ProcessSignals {

namespace {

// Called through syscall(): the C library's own wrappers are not declared for
// C++ in every version we build with.
int pidfdOpen(pid_t pid)
{
    return int(::syscall(SYS_pidfd_open, pid, 0));
}

int pidfdSignal(int pidfd, int sig)
{
    return int(::syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0));
}

// Whether the process behind the descriptor has exited, waiting up to `ms`.
// The descriptor turns readable once it has exited, reaped or not.
bool exited(int pidfd, int ms)
{
    pollfd p { pidfd, POLLIN, 0 };
    int n = 0;
    do {
        n = ::poll(&p, 1, ms);
    } while (n < 0 && errno == EINTR);
    return n > 0;
}

// The same by pid alone, where pidfds cannot be had.
bool terminateByPid(pid_t pid, double graceSeconds, const std::function<bool()>& isSame)
{
    if (!isAlive(pid) || (isSame && !isSame()))
        return false;
    ::kill(pid, SIGTERM);
    QDeadlineTimer deadline(qint64(graceSeconds * 1000));
    while (!deadline.hasExpired()) {
        if (!isAlive(pid))
            return true;
        QThread::msleep(100);
    }
    if (isAlive(pid)) {
        DeskCrumbs::drop(QStringLiteral("child.kill pid=%1 宽限期内没退出，SIGKILL").arg(pid));
        ::kill(pid, SIGKILL);
    }
    return true;
}

} // namespace

bool isAlive(pid_t pid)
{
    if (pid < 2 || ::kill(pid, 0) != 0)
        return false;
    // A process that has exited stays signallable until its parent reaps it;
    // it is gone all the same.
    const std::optional<ProcessTable::Entry> e = ProcessTable::entry(pid);
    return !e || e->state != 'Z';
}

bool terminate(pid_t pid, double graceSeconds, const std::function<bool()>& isSame)
{
    if (pid < 2)
        return false;
    const int fd = pidfdOpen(pid);
    if (fd < 0)
        // ESRCH: gone already. Anything else (no pidfds here, a sandbox that
        // refuses the call): by pid alone, as before pidfds existed.
        return errno == ESRCH ? false : terminateByPid(pid, graceSeconds, isSame);
    const auto closeFd = qScopeGuard([fd] { ::close(fd); });
    // Asked after the descriptor was taken: if the pid changed hands in
    // between, the descriptor's process has exited and the check below says so.
    if (isSame && !isSame())
        return false;
    if (exited(fd, 0) || pidfdSignal(fd, SIGTERM) != 0)
        return false;
    QDeadlineTimer deadline(qint64(graceSeconds * 1000));
    while (!deadline.hasExpired()) {
        if (exited(fd, int(std::clamp<qint64>(deadline.remainingTime(), 0, 100))))
            return true;
    }
    if (!exited(fd, 0)) {
        DeskCrumbs::drop(QStringLiteral("child.kill pid=%1 宽限期内没退出，SIGKILL").arg(pid));
        pidfdSignal(fd, SIGKILL);
    }
    return true;
}

} // namespace ProcessSignals
