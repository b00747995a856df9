#include "core/platform/ProcessGroup.h"

#include <QMutex>
#include <QObject>
#include <QProcess>
#include <QSet>

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
};

Registry& registry()
{
    static auto* r = new Registry;
    return *r;
}

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
    if (m_cancelled || r.closing || leader < 2) {
        m_cancelled = true;
        return false;
    }
    m_leader = leader;
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

void ProcessGroup::cancel()
{
    Registry& r = registry();
    const QMutexLocker lock(&r.mutex);
    m_cancelled = true;
    if (m_leader > 0)
        end(m_leader);
}

bool ProcessGroup::cancelled() const
{
    Registry& r = registry();
    const QMutexLocker lock(&r.mutex);
    return m_cancelled;
}

void ProcessGroup::end(pid_t leader)
{
    // Never 0 or 1: kill(0) and kill(-1) would reach this process's own group or every process.
    if (leader > 1)
        ::kill(-leader, SIGKILL);
}

void ProcessGroup::endAll()
{
    Registry& r = registry();
    const QMutexLocker lock(&r.mutex);
    r.closing = true;
    for (ProcessGroup* group : std::as_const(r.live)) {
        group->m_cancelled = true;
        end(group->m_leader);
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
