#include "core/platform/ProcessGroup.h"

#include "core/platform/ProcessTable.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QProcess>
#include <QSet>
#include <QThread>

#include <atomic>
#include <csignal>

#include <unistd.h>

namespace {

// One lock for the registry and every group's state: they change a few times
// per run. Never destroyed: a pool thread may still end a run while the
// process exits.
struct Registry {
    QMutex mutex;
    QSet<ProcessGroup*> live;
    bool closing = false;
    // The leaders of the groups endAll() asked to end, and when SIGKILL is due.
    QList<pid_t> ending;
    QDeadlineTimer endingKillAt;
};

Registry& registry()
{
    static auto* r = new Registry;
    return *r;
}

constexpr qint64 kGraceMs = ProcessGroup::kGrace.count();

} // namespace

ProcessGroup::~ProcessGroup()
{
    leave();
}

void ProcessGroup::prepare(QProcess& process)
{
    // Runs in the child between fork and exec; setpgid is async-signal-safe.
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
}

bool ProcessGroup::enter(pid_t leader)
{
    Registry& r = registry();
    const QMutexLocker lock(&r.mutex);
    m_leader = leader;
    if (m_cancelled || r.closing || leader < 2) {
        m_cancelled = true;
        return false;
    }
    r.live.insert(this);
    return true;
}

void ProcessGroup::leave()
{
    Registry& r = registry();
    const QMutexLocker lock(&r.mutex);
    r.live.remove(this);
    m_leader = 0;
}

void ProcessGroup::askLocked()
{
    if (m_killAt)
        return;
    m_killAt = QDeadlineTimer(kGraceMs);
    // Never 0 or 1: kill(0) and kill(-1) would reach this process's own group or every process.
    if (m_leader > 1)
        ::kill(-m_leader, SIGTERM);
}

void ProcessGroup::cancel()
{
    Registry& r = registry();
    const QMutexLocker lock(&r.mutex);
    m_cancelled = true;
    if (r.live.contains(this))
        askLocked();
}

bool ProcessGroup::cancelled() const
{
    Registry& r = registry();
    const QMutexLocker lock(&r.mutex);
    return m_cancelled;
}

QDeadlineTimer ProcessGroup::stop()
{
    Registry& r = registry();
    const QMutexLocker lock(&r.mutex);
    askLocked();
    return *m_killAt;
}

void ProcessGroup::end(pid_t leader)
{
    if (leader > 1)
        ::kill(-leader, SIGKILL);
}

bool ProcessGroup::anyLeft(pid_t leader)
{
    // The group's id stays taken while any member is left, so it still names
    // this group; most of the time nothing answers and /proc is not read.
    return leader > 1 && ::kill(-leader, 0) == 0 && !ProcessTable::groupMembers(leader).isEmpty();
}

void ProcessGroup::endAll()
{
    Registry& r = registry();
    const QMutexLocker lock(&r.mutex);
    r.closing = true;
    r.endingKillAt = QDeadlineTimer(kGraceMs);
    for (ProcessGroup* group : std::as_const(r.live)) {
        group->m_cancelled = true;
        group->askLocked();
        r.ending.append(group->m_leader);
    }
}

void ProcessGroup::waitForEnded()
{
    Registry& r = registry();
    QList<pid_t> leaders;
    QDeadlineTimer killAt;
    {
        const QMutexLocker lock(&r.mutex);
        leaders = std::exchange(r.ending, {});
        killAt = r.endingKillAt;
    }
    const auto left = [&leaders] {
        return std::any_of(leaders.cbegin(), leaders.cend(), [](pid_t leader) { return anyLeft(leader); });
    };
    while (!killAt.hasExpired() && left())
        QThread::msleep(20);
    for (const pid_t leader : std::as_const(leaders)) {
        if (anyLeft(leader))
            end(leader);
    }
}

ProcessGroup::Scope::Scope(const QObject* owner)
    : m_group(std::make_shared<ProcessGroup>())
{
    if (owner) {
        // The lambda holds the group, never the owner: it runs inside the owner's destruction.
        m_link = QObject::connect(owner, &QObject::destroyed, [group = m_group] { group->cancel(); });
    }
}

ProcessGroup::Scope::~Scope()
{
    QObject::disconnect(m_link);
}
