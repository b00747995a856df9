#include "core/platform/ProcessGroup.h"

#include "core/platform/ProcessTable.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QProcess>
#include <QSet>
#include <QThread>

#include <algorithm>
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
// How long SIGKILL is given to take.
constexpr qint64 kKilledMs = 1000;
// Between looks at what is still ending.
constexpr int kLookMs = 20;

// Set once by cutGraceShort(), possibly inside a signal handler.
std::atomic<bool> g_graceCut { false };
static_assert(std::atomic<bool>::is_always_lock_free);

// The process exists and is not a zombie waiting for its parent.
bool alive(pid_t pid)
{
    if (pid < 2 || ::kill(pid, 0) != 0)
        return false;
    const std::optional<ProcessTable::Entry> e = ProcessTable::entry(pid);
    return !e || e->state != 'Z';
}

bool ended(const ProcessGroup::Ending& e)
{
    return e.group ? !ProcessGroup::anyLeft(e.pid) : !alive(e.pid);
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

bool ProcessGroup::start(QProcess& process)
{
    Registry& r = registry();
    // Held across the fork, so that endAll() never misses a child that is
    // starting; the child itself only calls setpgid before it executes.
    const QMutexLocker lock(&r.mutex);
    if (m_cancelled || r.closing) {
        m_cancelled = true;
        return false;
    }
    process.start();
    m_leader = pid_t(process.processId());
    // A child that could not even be forked has no group to end.
    if (m_leader > 1)
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
    QList<Ending> endings;
    {
        const QMutexLocker lock(&r.mutex);
        for (const pid_t leader : std::exchange(r.ending, {}))
            endings.append({ leader, true, r.endingKillAt });
    }
    awaitEnded(endings);
}

QList<ProcessGroup::Ending> ProcessGroup::awaitEnded(
    const QList<Ending>& endings, const std::function<void(int)>& pause)
{
    const auto wait = [&pause](int ms) {
        if (pause)
            pause(ms);
        else
            QThread::msleep(ms);
    };
    QList<Ending> ending;
    for (const Ending& e : endings) {
        // Never 0 or 1: kill(0) and kill(-1) would reach this process's own group or every process.
        if (e.pid > 1)
            ending.append(e);
    }
    QList<Ending> killed;
    while (!ending.isEmpty()) {
        const bool cut = g_graceCut.load();
        for (auto it = ending.begin(); it != ending.end();) {
            if (ended(*it)) {
                it = ending.erase(it);
            } else if (cut || it->killAt.hasExpired()) {
                it->pidLeft = alive(it->pid);
                ::kill(it->group ? -it->pid : it->pid, SIGKILL);
                killed.append(*it);
                it = ending.erase(it);
            } else {
                ++it;
            }
        }
        if (!ending.isEmpty())
            wait(kLookMs);
    }
    const QDeadlineTimer killedBy(kKilledMs);
    const auto allGone = [&killed] { return std::all_of(killed.cbegin(), killed.cend(), ended); };
    while (!killedBy.hasExpired() && !allGone())
        wait(kLookMs);
    return killed;
}

void ProcessGroup::cutGraceShort()
{
    g_graceCut.store(true);
}

bool ProcessGroup::graceIsCut()
{
    return g_graceCut.load();
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
