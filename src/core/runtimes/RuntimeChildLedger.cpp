#include "core/runtimes/RuntimeChildLedger.h"

#include "core/gateway/Json.h"
#include "core/platform/DeskCrumbs.h"
#include "core/platform/FileLock.h"
#include "core/platform/JsonFile.h"
#include "core/platform/SerialExecutor.h"
#include "core/platform/TolvarinePaths.h"
#include "core/runtimes/ProcessSignals.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <atomic>
#include <sys/stat.h>
#include <unistd.h>

namespace RuntimeChildLedger {

namespace {

QMutex& lock()
{
    static QMutex m;
    return m;
}

// Instances with homes of their own share the real home's ledger: each holds
// this lock between processes too, after the one between its threads, from
// the read to the end of the write, so that none writes over the records of
// another.
QString sharedLockPath()
{
    return TolvarinePaths::homeFile(QStringLiteral("desktop_children.lock"));
}

// How long a write waits for another process to let go of the lock.
constexpr int kWriteWaitMs = 10000;
// How long a reap waits: a reap that cannot have the lock is tried again later.
constexpr int kReapWaitMs = 2000;

// From quitting on, every wait for the lock ends by one deadline, not one
// wait per write (ms since the epoch; 0 when there is none).
std::atomic<qint64> g_waitsEndAt { 0 };

int lockWait(int ms)
{
    const qint64 endAt = g_waitsEndAt.load();
    if (endAt == 0)
        return ms;
    return int(qBound<qint64>(0, endAt - QDateTime::currentMSecsSinceEpoch(), qint64(ms)));
}

// The file as read for a change.
struct Ledger {
    QList<RuntimeChildRecord> records;
    JsonFile::Stored stored;
    // There, but not a ledger this version can read.
    bool damaged = false;
};

// The file as it is now (load() without waiting for the writer).
Ledger read()
{
    Ledger out;
    out.stored = JsonFile::readStored(filePath());
    const JsonFile::Stored& stored = out.stored;
    if (stored.state == JsonFile::Stored::State::Missing)
        return out;
    out.damaged = true;
    if (stored.state == JsonFile::Stored::State::Unreadable) {
        DeskCrumbs::drop(QStringLiteral("child.load 读不了台账：%1").arg(stored.reason));
        return out;
    }
    QString error;
    std::optional<QList<RuntimeChildRecord>> records = decode(stored.data, &error);
    if (!records) {
        DeskCrumbs::drop(QStringLiteral("child.load 解不开台账（%1 字节）：%2").arg(stored.data.size()).arg(error));
        return out;
    }
    out.records = *records;
    out.damaged = false;
    return out;
}

// None once the records are on disk, else why not.
std::optional<QString> save(const QList<RuntimeChildRecord>& records, const Ledger& over)
{
    // A ledger that could not be read may still name workers someone wants
    // to find: it is kept as "desktop_children.json.bad" (as the stores keep
    // theirs) before anything replaces it. A folder in its place stays, and
    // nothing is written.
    if (over.damaged) {
        QString error;
        if (!JsonFile::setAside(filePath(), over.stored, JsonFile::Access::Default, &error)) {
            DeskCrumbs::drop(QStringLiteral("child.save 台账没写：%1").arg(error));
            return error;
        }
        DeskCrumbs::drop(
            QStringLiteral("child.save 读不了的台账原样留作 ") + QFileInfo(JsonFile::asidePath(filePath())).fileName());
    }
    QJsonArray array;
    for (const RuntimeChildRecord& r : records)
        array.append(r.toJson());
    // Replaced whole, so a crash mid-write never leaves a truncated ledger
    // that would forget every orphan.
    QString error;
    if (!JsonFile::writeAtomically(filePath(), QJsonDocument(array), JsonFile::Access::Default, &error)) {
        DeskCrumbs::drop(QStringLiteral("child.save 台账没写：%1").arg(error));
        return error;
    }
    return std::nullopt;
}

// Whether the ledger may be changed under `shared`: not while another
// process holds it (a write now could lose its records). A lock file that
// cannot be had at all holds nothing up (the write then fails or not on its
// own), with a breadcrumb.
bool mayChange(const FileLock& shared, const QString& what)
{
    if (shared.isLocked())
        return true;
    DeskCrumbs::drop(QStringLiteral("%1 台账锁不上：%2").arg(what, shared.error()));
    return !shared.isBusy();
}

// Why a change did not land: the lock file could not be had, or another
// program holds it.
QString lockFailure(const FileLock& shared)
{
    if (shared.isBusy())
        return lockHeldBy(sharedLockPath());
    return QStringLiteral("台账锁不上：%1").arg(shared.error());
}

// What an interrupted write leaves beside the ledger: its temporary file,
// named after the ledger with six letters or digits added.
void removeLeftovers(quint64 sinceTicks)
{
    static const QRegularExpression leftover(QRegularExpression::anchoredPattern(
        QRegularExpression::escape(QFileInfo(filePath()).fileName()) + QStringLiteral("\\.[A-Za-z0-9]{6}")));
    const QDateTime since
        = ProcessTable::bootTime().addMSecs(qint64(sinceTicks * 1000 / ProcessTable::ticksPerSecond()));
    if (sinceTicks == 0 || !since.isValid())
        return;
    QDirIterator it(QFileInfo(filePath()).absolutePath(), QDir::Files | QDir::Hidden | QDir::System);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        // Written before this instance started: no write of this run, nor of
        // an instance that started later, is still under way on it.
        if (!leftover.match(info.fileName()).hasMatch() || info.isSymLink() || info.lastModified() >= since)
            continue;
        if (QFile::remove(info.absoluteFilePath()))
            DeskCrumbs::drop(QStringLiteral("child.save 删掉上次没写完留下的 %1").arg(info.fileName()));
    }
}

// Reads the file, changes its records and writes them, under both locks.
// None once the records are on disk, else why not.
std::optional<QString> change(const std::function<void(QList<RuntimeChildRecord>&)>& edit)
{
    const QMutexLocker locker(&lock());
    const FileLock shared(sharedLockPath(), lockWait(kWriteWaitMs), &g_waitsEndAt);
    if (!mayChange(shared, QStringLiteral("child.save")))
        return lockFailure(shared);
    const Ledger ledger = read();
    QList<RuntimeChildRecord> records = ledger.records;
    edit(records);
    return save(records, ledger);
}

// One change waiting for the writer: a record to add, or a pid (or launch mark) to forget.
struct Change {
    std::optional<RuntimeChildRecord> added;
    qint32 forgotten = 0;
    QString forgottenLaunch;
};

// The changes handed in and not yet written. Never destroyed: a write may
// still be under way while the process exits.
struct Pending {
    QMutex mutex;
    QList<Change> changes;
    SerialExecutor queue;
    // The queued write that will take the changes handed in now.
    QFuture<std::optional<QString>> next;
};

Pending& pending()
{
    static auto* p = new Pending;
    return *p;
}

void apply(QList<RuntimeChildRecord>& records, const Change& change)
{
    const qint32 pid = change.added ? change.added->pid : change.forgotten;
    const QString launch = change.added ? change.added->launch : change.forgottenLaunch;
    records.removeIf([&](const RuntimeChildRecord& r) {
        return (pid != 0 && r.pid == pid) || (!launch.isEmpty() && r.launch == launch);
    });
    if (change.added)
        records.append(*change.added);
}

void crumb(const Change& change)
{
    if (change.added) {
        const RuntimeChildRecord& r = *change.added;
        DeskCrumbs::drop(QStringLiteral("child.record pid=%1 kind=%2 exe=%3").arg(r.pid).arg(r.kind, r.exe));
    } else if (change.forgotten != 0 || change.forgottenLaunch.isEmpty()) {
        DeskCrumbs::drop(QStringLiteral("child.forget pid=%1").arg(change.forgotten));
    } else {
        DeskCrumbs::drop(QStringLiteral("child.forget launch=%1").arg(change.forgottenLaunch));
    }
}

// A queued write takes every change handed in by its turn: one rewrite of the file for a burst.
std::optional<QString> writeBatch()
{
    Pending& p = pending();
    QList<Change> batch;
    {
        const QMutexLocker locker(&p.mutex);
        batch.swap(p.changes);
    }
    if (batch.isEmpty())
        return std::nullopt;
    const std::optional<QString> failure = change([&batch](QList<RuntimeChildRecord>& records) {
        for (const Change& c : std::as_const(batch))
            apply(records, c);
    });
    for (const Change& c : std::as_const(batch))
        crumb(c);
    return failure;
}

QFuture<std::optional<QString>> hand(Change change)
{
    Pending& p = pending();
    // Queued under the lock, so that a change handed in is always taken by
    // the write whose future it gets.
    const QMutexLocker locker(&p.mutex);
    const bool queued = !p.changes.isEmpty();
    p.changes.append(std::move(change));
    if (!queued)
        p.next = p.queue.run(writeBatch);
    return p.next;
}

// The launch mark a process carries in its environment; empty without one
// (or when it cannot be read: gone, or another user's).
QString markOf(pid_t pid)
{
    static const QByteArray prefix = QByteArray(kLaunchVariable) + '=';
    const QList<QByteArray> env = ProcessTable::environment(pid).split('\0');
    for (const QByteArray& entry : env) {
        if (entry.startsWith(prefix))
            return QString::fromUtf8(entry.mid(prefix.size()));
    }
    return {};
}

// The living processes of the listing by the launch mark they carry: a
// worker and everything it started, whatever they run.
QHash<QString, QList<pid_t>> byMark(const ProcessTable& table)
{
    QHash<QString, QList<pid_t>> out;
    for (const ProcessTable::Entry& e : table.byPID) {
        if (e.state == 'Z')
            continue;
        const QString mark = markOf(e.pid);
        if (!mark.isEmpty())
            out[mark].append(e.pid);
    }
    for (QList<pid_t>& pids : out)
        std::sort(pids.begin(), pids.end());
    return out;
}

// This instance, the processes it runs under and the ones it started: never
// signalled, even when they carry a mark (an instance started from inside a
// worker's tree inherits it).
QSet<pid_t> ownLine(qint32 myPID, const ProcessTable& table)
{
    QSet<pid_t> out { myPID };
    for (const pid_t p : table.ancestors(myPID))
        out.insert(p);
    for (const ProcessTable::Entry& e : table.byPID) {
        if (table.ancestors(e.pid).contains(myPID))
            out.insert(e.pid);
    }
    return out;
}

// What one launch mark ends: the processes that carry it, and the rest of
// the process group of each (a child that cleared its environment, or whose
// environment cannot be read) while a marked process of that group lives, so
// that the group's id cannot name anyone else's group meanwhile.
struct MarkedSet {
    // The marked processes.
    QList<pid_t> marked;
    // The rest of their groups, each with its group.
    QHash<pid_t, pid_t> rest;
    // The marked members of each of those groups.
    QHash<pid_t, QList<pid_t>> markedIn;

    // Everything to signal: the rest first, so that the marked processes that
    // vouch for their groups still live when the rest is asked.
    QList<pid_t> all() const
    {
        QList<pid_t> out = rest.keys();
        std::sort(out.begin(), out.end());
        return out + marked;
    }
    bool isEmpty() const { return marked.isEmpty(); }
};

// `spared` is never included; neither is anything of the group `exceptGroup`
// (a group its owner is ending already), nor the rest of this process's own group.
MarkedSet markedSet(const QString& mark, const ProcessTable& table, const QHash<QString, QList<pid_t>>& marks,
    const QSet<pid_t>& spared, pid_t exceptGroup = 0)
{
    MarkedSet out;
    if (mark.isEmpty())
        return out;
    const pid_t ownGroup = ::getpgid(0);
    for (const pid_t p : marks.value(mark)) {
        const pid_t group = table.byPID.value(p).pgid;
        if (spared.contains(p) || (exceptGroup > 1 && group == exceptGroup))
            continue;
        out.marked.append(p);
        if (group > 1 && group != ownGroup)
            out.markedIn[group].append(p);
    }
    for (const ProcessTable::Entry& e : table.byPID) {
        if (e.state == 'Z' || e.pid < 2 || spared.contains(e.pid) || out.marked.contains(e.pid)
            || !out.markedIn.contains(e.pgid))
            continue;
        out.rest.insert(e.pid, e.pgid);
    }
    return out;
}

// Asked of each process of a set once it is held, just before its SIGTERM:
// a marked one still carries the mark; one of the rest is still in its group
// and a marked process of that group still lives. Those that pass are added to `signalled`.
std::function<bool(pid_t)> stillEnding(const QString& mark, const MarkedSet& set, QSet<pid_t>* signalled)
{
    const auto marked = [mark](pid_t pid, pid_t group) {
        const std::optional<ProcessTable::Entry> e = ProcessTable::entry(pid);
        return e && e->state != 'Z' && (group == 0 || e->pgid == group) && markOf(pid) == mark;
    };
    return [marked, set, signalled](pid_t pid) {
        bool ok = false;
        if (const auto g = set.rest.constFind(pid); g != set.rest.cend()) {
            const std::optional<ProcessTable::Entry> e = ProcessTable::entry(pid);
            const QList<pid_t> vouching = set.markedIn.value(*g);
            ok = e && e->state != 'Z' && e->pgid == *g
                && std::any_of(vouching.cbegin(), vouching.cend(), [&](pid_t m) { return marked(m, *g); });
        } else {
            ok = marked(pid, 0);
        }
        if (ok && signalled)
            signalled->insert(pid);
        return ok;
    };
}

// What `mark` ends now, from a new listing, but for `spared`.
MarkedSet markedNow(
    const QString& mark, const std::function<QSet<pid_t>(const ProcessTable&)>& spared, pid_t exceptGroup = 0)
{
    const ProcessTable table = ProcessTable::snapshot();
    return markedSet(mark, table, byMark(table), spared(table), exceptGroup);
}

// The worker among the processes that carry its mark: the one whose parent
// does not (what it started has it as parent, or was handed on when it went),
// preferring the leader of a group (the application makes each worker one).
pid_t workerAmong(const QList<pid_t>& pids, const ProcessTable& table)
{
    pid_t first = 0;
    for (const pid_t p : pids) {
        const ProcessTable::Entry e = table.byPID.value(p);
        if (pids.contains(e.ppid))
            continue;
        if (e.pgid == p)
            return p;
        if (first == 0)
            first = p;
    }
    return first != 0 ? first : pids.value(0);
}

// Whether the owner of a record from another PID namespace still runs: while
// an instance holds its home's lock, which every namespace sees. Not this
// process's home (this instance holds that one itself), and a home that
// cannot be opened from here is taken as held: its record is left alone.
bool ownerHoldsItsHome(const RuntimeChildRecord& r)
{
    if (r.ownerHome.isEmpty())
        return true;
    struct stat theirs { };
    struct stat mine { };
    if (::stat(QFile::encodeName(r.ownerHome).constData(), &theirs) != 0)
        return true;
    if (::stat(QFile::encodeName(TolvarinePaths::productHome()).constData(), &mine) == 0 && theirs.st_dev == mine.st_dev
        && theirs.st_ino == mine.st_ino)
        return false;
    return InstanceLock::held(r.ownerHome).value_or(true);
}

// Why a record of a gone owner that nothing carries the mark of is dropped,
// when its pid runs something now.
void crumbForeign(const RuntimeChildRecord& r, const ProcessTable& table)
{
    const auto it = table.byPID.constFind(r.pid);
    if (r.pid == 0 || it == table.byPID.cend() || it->state == 'Z')
        return;
    if (it->argv0 != r.exe)
        DeskCrumbs::drop(
            QStringLiteral("child.reap 跳过 pid=%1：argv0 对不上（%2 ≠ %3）").arg(r.pid).arg(it->argv0, r.exe));
    else
        DeskCrumbs::drop(QStringLiteral("child.reap 跳过 pid=%1：不带这次启动的标记（%2）").arg(r.pid).arg(it->argv0));
}

} // namespace

QString filePath()
{
    return TolvarinePaths::homeFile(QStringLiteral("desktop_children.json"));
}

std::optional<QList<RuntimeChildRecord>> decode(const QByteArray& data, QString* error)
{
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return std::nullopt;
    };
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(data, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return fail(parseError.errorString());
    if (!doc.isArray())
        return fail(QStringLiteral("顶层不是数组"));
    QList<RuntimeChildRecord> out;
    const QJsonArray array = doc.array();
    for (const QJsonValue& v : array) {
        if (!v.isObject())
            return fail(QStringLiteral("元素不是对象"));
        QString why;
        std::optional<RuntimeChildRecord> r = RuntimeChildRecord::fromJson(v.toObject(), &why);
        if (!r)
            return fail(why);
        out.append(*r);
    }
    return out;
}

QList<RuntimeChildRecord> load()
{
    waitForWrites();
    return read().records;
}

void record(const RuntimeChildRecord& rec)
{
    const Change added { rec, 0, {} };
    change([&added](QList<RuntimeChildRecord>& records) { apply(records, added); });
    crumb(added);
}

void forget(qint32 pid)
{
    const Change forgotten { std::nullopt, pid, {} };
    change([&forgotten](QList<RuntimeChildRecord>& records) { apply(records, forgotten); });
    crumb(forgotten);
}

QFuture<std::optional<QString>> recordLater(const RuntimeChildRecord& rec)
{
    return hand(Change { rec, 0, {} });
}

void forgetLater(qint32 pid, const QString& launch)
{
    hand(Change { std::nullopt, pid, launch });
}

void waitForWrites()
{
    pending().queue.waitForIdle();
}

RuntimeChildRecord ownRecord()
{
    RuntimeChildRecord r;
    r.ownerPID = qint32(::getpid());
    r.ownerStart = ProcessTable::ownStartTicks();
    r.ownerPidNs = ProcessTable::ownPidNamespace();
    r.ownerHome = TolvarinePaths::productHome();
    return r;
}

int endMarked(const QString& mark, pid_t exceptGroup, double graceSeconds)
{
    const pid_t me = ::getpid();
    // Never this process or those it runs under; what it started is fair game.
    const auto spared = [me](const ProcessTable& table) {
        QSet<pid_t> out { me };
        for (const pid_t p : table.ancestors(me))
            out.insert(p);
        return out;
    };
    QSet<pid_t> signalled;
    MarkedSet set = markedNow(mark, spared, exceptGroup);
    for (int round = 0; round < 3 && !set.isEmpty(); ++round) {
        ProcessSignals::terminateEach(set.all(), graceSeconds, stillEnding(mark, set, &signalled));
        set = markedNow(mark, spared, exceptGroup);
    }
    return int(signalled.size());
}

QString lockHeldBy(const QString& lockPath)
{
    return QStringLiteral("另一个程序一直占着 ") + lockPath;
}

bool isLockHeld(const QString& failure)
{
    return failure.startsWith(lockHeldBy(QString()));
}

QString lockPath()
{
    return sharedLockPath();
}

void endLockWaitsBy(const QDeadlineTimer& deadline)
{
    if (!deadline.isForever())
        g_waitsEndAt.store(qMax<qint64>(1, QDateTime::currentMSecsSinceEpoch() + deadline.remainingTime()));
}

QList<RuntimeChildRecord> reapOrphans(qint32 myPID, const std::function<ProcessTable()>& snapshot, bool* lockHeld)
{
    if (lockHeld)
        *lockHeld = false;
    // A record of a gone owner with the processes that carry its mark.
    struct Ending {
        RuntimeChildRecord record;
        MarkedSet set;
        // Some of this instance's own line carry it too.
        bool spared = false;
    };
    QList<Ending> ending;
    {
        const QMutexLocker locker(&lock());
        const FileLock shared(sharedLockPath(), lockWait(kReapWaitMs), &g_waitsEndAt);
        if (!mayChange(shared, QStringLiteral("child.reap"))) {
            if (lockHeld)
                *lockHeld = shared.isBusy();
            return {};
        }
        if (myPID == ::getpid())
            removeLeftovers(ProcessTable::ownStartTicks());
        const Ledger ledger = read();
        const QList<RuntimeChildRecord>& records = ledger.records;
        if (records.isEmpty())
            return {};
        const ProcessTable table = snapshot();
        // Without a listing nothing can be told apart: a gone worker and a live
        // orphan look the same. Keep every record for the next launch.
        if (table.isEmpty())
            return {};
        const QHash<QString, QList<pid_t>> marks = byMark(table);
        const QSet<pid_t> own = ownLine(myPID, table);

        // Pids of another PID namespace mean something else here; and from
        // inside a namespace of its own a reaper does not see every process.
        const quint64 myNamespace = myPID == ::getpid() ? ProcessTable::ownPidNamespace() : 0;
        const bool seesAll = myNamespace == 0 || myNamespace == ProcessTable::kInitialPidNamespace;

        QList<RuntimeChildRecord> kept;
        for (const RuntimeChildRecord& stored : records) {
            const bool elsewhere = stored.ownerPidNs != 0 && myNamespace != 0 && stored.ownerPidNs != myNamespace;
            // An owner that has exited but not been collected (a zombie) is
            // gone all the same: its children have already been handed on. So
            // is one whose pid now runs a process started later.
            const auto owner = table.byPID.constFind(stored.ownerPID);
            const bool ownerRuns = elsewhere ? ownerHoldsItsHome(stored)
                                             : owner != table.byPID.cend() && owner->state != 'Z'
                    && (stored.ownerStart == 0 || owner->startTicks == stored.ownerStart);
            // This instance's pid once was a crashed owner's: its own start tells them apart.
            const bool mine = !elsewhere && stored.ownerPID == myPID
                && (stored.ownerStart == 0 || myPID != ::getpid()
                    || stored.ownerStart == ProcessTable::ownStartTicks());
            if (mine || ownerRuns) {
                kept.append(stored);
                continue;
            }
            // A process is the worker's only by the mark it was started with:
            // its pid may run anyone's program by now, and a script install
            // runs under another first word.
            const QList<pid_t> carriers = stored.launch.isEmpty() ? QList<pid_t>() : marks.value(stored.launch);
            // This instance's own line is spared, and the record with it.
            bool spared = false;
            for (const pid_t p : carriers) {
                if (!own.contains(p))
                    continue;
                spared = true;
                DeskCrumbs::drop(
                    QStringLiteral("child.reap 跳过 pid=%1：ppid=%2 不是孤儿").arg(p).arg(table.byPID.value(p).ppid));
            }
            const MarkedSet set = markedSet(stored.launch, table, marks, own);
            const QList<pid_t> pids = set.marked;
            if (pids.isEmpty()) {
                // What the owner's namespace ran may be out of sight from here.
                if (spared || (elsewhere && !seesAll))
                    kept.append(stored);
                else if (!elsewhere)
                    crumbForeign(stored, table);
                continue;
            }
            RuntimeChildRecord r = stored;
            // Written before its worker had a pid: the worker is found by the mark.
            if (r.pid == 0)
                r.pid = workerAmong(pids, table);
            ending.append({ r, set, spared });
            // The record stays until nothing carries its mark, so a crash
            // meanwhile leaves it for the next launch.
            kept.append(stored);
        }
        save(kept, ledger);
    }

    // Ending takes up to the grace; the lock is not held meanwhile, so that a
    // worker started now can still be recorded at once.
    QList<RuntimeChildRecord> reaped;
    QList<QString> cleared;
    for (const Ending& e : std::as_const(ending)) {
        const RuntimeChildRecord& r = e.record;
        const QString mark = r.launch;
        // Each held process is asked again once it is held: the listing may be
        // seconds old by now.
        QSet<pid_t> signalled;
        // What the tree starts while it is being ended carries the mark too: it
        // is looked for again, a few times.
        MarkedSet set = e.set;
        const auto spared = [myPID](const ProcessTable& table) { return ownLine(myPID, table); };
        for (int round = 0; round < 3 && !set.isEmpty(); ++round) {
            ProcessSignals::terminateEach(set.all(), 3.0, stillEnding(mark, set, &signalled));
            set = markedNow(mark, spared);
        }
        const bool workerEnded = signalled.contains(r.pid);
        const int othersEnded = int(signalled.size()) - (workerEnded ? 1 : 0);
        if (workerEnded)
            DeskCrumbs::drop(QStringLiteral("child.reap 收掉 pid=%1 exe=%2").arg(r.pid).arg(r.exe));
        else if (othersEnded > 0)
            DeskCrumbs::drop(QStringLiteral("child.reap 收掉 pid=%1 留下的 %2 个进程").arg(r.pid).arg(othersEnded));
        if (workerEnded || othersEnded > 0)
            reaped.append(r);
        if (set.isEmpty() && !e.spared)
            cleared.append(mark);
    }
    if (!cleared.isEmpty()) {
        change([&cleared](QList<RuntimeChildRecord>& records) {
            records.removeIf([&cleared](const RuntimeChildRecord& r) { return cleared.contains(r.launch); });
        });
    }
    return reaped;
}

QList<RuntimeChildRecord> reapAtLaunch(qint32 myPID, bool* lockHeld)
{
    const QList<RuntimeChildRecord> reaped = reapOrphans(myPID, &ProcessTable::snapshot, lockHeld);
    if (!reaped.isEmpty())
        DeskCrumbs::drop(QStringLiteral("启动时收掉上一任留下的孤儿 %1 个").arg(reaped.size()));
    return reaped;
}

} // namespace RuntimeChildLedger
