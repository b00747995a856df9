#include "core/runtimes/ProcessSignals.h"

#include "core/platform/DeskCrumbs.h"
#include "core/platform/ProcessGroup.h"
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

// Whether `pid` leads a process group of its own: the application starts its
// workers that way, so that whatever a worker starts can be ended with it.
// Asked while the process is held, so the group is still that process's.
bool leadsGroup(pid_t pid)
{
    return ::getpgid(pid) == pid;
}

// What a worker left of its group once it has gone: the rest got the SIGTERM
// too and has what is left of the grace to end; whatever still runs then is
// killed. The group's id stays taken while any member lives, so it cannot
// name someone else's group meanwhile.
void endRestOfGroup(pid_t pgid, const QDeadlineTimer& deadline)
{
    if (!ProcessGroup::awaitEnded({ { pgid, true, deadline } }).isEmpty())
        DeskCrumbs::drop(QStringLiteral("child.kill pgid=%1 宽限期内没退出，SIGKILL").arg(pgid));
}

// The same by pid alone, where pidfds cannot be had.
bool terminateByPid(pid_t pid, double graceSeconds, const std::function<bool()>& isSame)
{
    if (!isAlive(pid) || (isSame && !isSame()))
        return false;
    const bool group = leadsGroup(pid);
    ::kill(group ? -pid : pid, SIGTERM);
    QDeadlineTimer deadline(qint64(graceSeconds * 1000));
    while (!deadline.hasExpired()) {
        if (!isAlive(pid))
            break;
        QThread::msleep(100);
    }
    if (isAlive(pid)) {
        DeskCrumbs::drop(QStringLiteral("child.kill pid=%1 宽限期内没退出，SIGKILL").arg(pid));
        ::kill(group ? -pid : pid, SIGKILL);
    } else if (group) {
        endRestOfGroup(pid, deadline);
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
    if (exited(fd, 0))
        return false;
    // A leader is signalled with its whole group while it is known to run.
    const bool group = leadsGroup(pid);
    if (group ? ::kill(-pid, SIGTERM) != 0 : pidfdSignal(fd, SIGTERM) != 0)
        return false;
    QDeadlineTimer deadline(qint64(graceSeconds * 1000));
    while (!deadline.hasExpired()) {
        if (exited(fd, int(std::clamp<qint64>(deadline.remainingTime(), 0, 100))))
            break;
    }
    if (!exited(fd, 0)) {
        DeskCrumbs::drop(QStringLiteral("child.kill pid=%1 宽限期内没退出，SIGKILL").arg(pid));
        if (group)
            ::kill(-pid, SIGKILL);
        else
            pidfdSignal(fd, SIGKILL);
    } else if (group) {
        endRestOfGroup(pid, deadline);
    }
    return true;
}

int terminateEach(const QList<pid_t>& pids, double graceSeconds, const std::function<bool(pid_t)>& isSame)
{
    struct Held {
        pid_t pid;
        int fd;
    };
    QList<Held> held;
    const auto closeAll = qScopeGuard([&held] {
        for (const Held& h : std::as_const(held)) {
            if (h.fd >= 0)
                ::close(h.fd);
        }
    });
    for (const pid_t pid : pids) {
        if (pid < 2)
            continue;
        const int fd = pidfdOpen(pid);
        if (fd < 0 && errno == ESRCH)
            continue;
        // Without a pidfd the pid alone has to do, as in terminate().
        held.append({ pid, fd });
        if (!isSame(pid) || (fd >= 0 ? exited(fd, 0) || pidfdSignal(fd, SIGTERM) != 0 : ::kill(pid, SIGTERM) != 0))
            held.last().pid = 0;
    }
    const auto gone = [](const Held& h) { return h.pid == 0 || (h.fd >= 0 ? exited(h.fd, 0) : !isAlive(h.pid)); };
    const int signalled = int(std::count_if(held.cbegin(), held.cend(), [](const Held& h) { return h.pid != 0; }));
    QDeadlineTimer deadline(qint64(graceSeconds * 1000));
    // A second quit signal cuts this grace short too.
    while (!deadline.hasExpired() && !ProcessGroup::graceIsCut() && !std::all_of(held.cbegin(), held.cend(), gone))
        QThread::msleep(100);
    for (const Held& h : std::as_const(held)) {
        if (gone(h))
            continue;
        DeskCrumbs::drop(QStringLiteral("child.kill pid=%1 宽限期内没退出，SIGKILL").arg(h.pid));
        if (h.fd >= 0)
            pidfdSignal(h.fd, SIGKILL);
        else
            ::kill(h.pid, SIGKILL);
    }
    return signalled;
}

} // namespace ProcessSignals
