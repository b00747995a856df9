#include "core/runtimes/RuntimeChildLedger.h"

#include "core/gateway/Json.h"
#include "core/platform/DeskCrumbs.h"
#include "core/platform/JsonFile.h"
#include "core/platform/SerialExecutor.h"
#include "core/platform/TolvarinePaths.h"
#include "core/runtimes/ProcessSignals.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QSet>

namespace RuntimeChildLedger {

namespace {

QMutex& lock()
{
    static QMutex m;
    return m;
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
    std::optional<QString> failure;
    {
        const QMutexLocker locker(&lock());
        const Ledger ledger = read();
        QList<RuntimeChildRecord> records = ledger.records;
        for (const Change& change : std::as_const(batch))
            apply(records, change);
        failure = save(records, ledger);
    }
    for (const Change& change : std::as_const(batch))
        crumb(change);
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

QString canonical(const QString& path)
{
    QString p = path;
    // The kernel marks an executable replaced on disk since it started.
    if (p.endsWith(QStringLiteral(" (deleted)")))
        p.chop(10);
    const QString c = QFileInfo(p).canonicalFilePath();
    return c.isEmpty() ? p : c;
}

// Whether the process carries the environment its worker was started with:
// everything a worker starts inherits the workspace and the runtime kind.
bool carriesMarks(pid_t pid, const RuntimeChildRecord& r)
{
    const QList<QByteArray> env = ProcessTable::environment(pid).split('\0');
    return env.contains(QByteArrayLiteral("TOLVARINE_WS=") + r.workspace.toUtf8())
        && env.contains(QByteArrayLiteral("TOLVARINE_RUNTIME_KIND=") + r.kind.toUtf8());
}

// What a gone worker left running: the living members of its process group
// (the worker led one; the group's id is its pid) that carry its marks.
QList<pid_t> leftovers(const RuntimeChildRecord& r, const ProcessTable& table)
{
    QList<pid_t> out;
    for (const ProcessTable::Entry& e : table.byPID) {
        if (e.pgid == r.pid && e.pid != r.pid && e.state != 'Z' && carriesMarks(e.pid, r))
            out.append(e.pid);
    }
    return out;
}

// The worker a record without a pid names: the process that carries its
// launch mark and runs its executable; or, once the worker is gone, the group
// it led, which what it started still carries the mark in. None when nothing
// carries it.
std::optional<RuntimeChildRecord> byMark(RuntimeChildRecord r, const ProcessTable& table)
{
    if (r.launch.isEmpty())
        return std::nullopt;
    const QByteArray mark = QByteArray(kLaunchVariable) + '=' + r.launch.toUtf8();
    std::optional<pid_t> group;
    for (const ProcessTable::Entry& e : table.byPID) {
        if (e.state == 'Z' || !ProcessTable::environment(e.pid).split('\0').contains(mark))
            continue;
        if (e.argv0 == r.exe) {
            r.pid = e.pid;
            return r;
        }
        group = e.pgid;
    }
    if (!group)
        return std::nullopt;
    r.pid = *group;
    return r;
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
    const Change change { rec, 0, {} };
    {
        const QMutexLocker locker(&lock());
        const Ledger ledger = read();
        QList<RuntimeChildRecord> records = ledger.records;
        apply(records, change);
        save(records, ledger);
    }
    crumb(change);
}

void forget(qint32 pid)
{
    const Change change { std::nullopt, pid, {} };
    {
        const QMutexLocker locker(&lock());
        const Ledger ledger = read();
        QList<RuntimeChildRecord> records = ledger.records;
        apply(records, change);
        save(records, ledger);
    }
    crumb(change);
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

QList<RuntimeChildRecord> reapOrphans(qint32 myPID, const std::function<ProcessTable()>& snapshot)
{
    QList<RuntimeChildRecord> ending;
    // Workers that are gone but left processes of theirs running (a worker
    // dies of its closed output pipe once its owner has crashed, and what it
    // started lives on).
    QList<RuntimeChildRecord> leftBehind;
    QSet<pid_t> adopters { 1 };
    {
        const QMutexLocker locker(&lock());
        const Ledger ledger = read();
        const QList<RuntimeChildRecord>& records = ledger.records;
        if (records.isEmpty())
            return {};
        const ProcessTable table = snapshot();
        // Without a listing nothing can be told apart: a gone worker and a live
        // orphan look the same. Keep every record for the next launch.
        if (table.isEmpty())
            return {};

        // An orphan is adopted by PID 1 or by the nearest child subreaper above
        // its dead owner (the user's service manager, for one). Those sit above
        // this instance too, so the parents of this process stand in for them.
        for (pid_t p : table.ancestors(myPID))
            adopters.insert(p);

        QList<RuntimeChildRecord> kept;
        for (const RuntimeChildRecord& stored : records) {
            // An owner that has exited but not been collected (a zombie) is
            // gone all the same: its children have already been handed on.
            const auto owner = table.byPID.constFind(stored.ownerPID);
            if (stored.ownerPID == myPID || (owner != table.byPID.cend() && owner->state != 'Z')) {
                kept.append(stored);
                continue;
            }
            // The owner went before it learnt the worker's pid.
            const std::optional<RuntimeChildRecord> found = stored.pid == 0 ? byMark(stored, table) : stored;
            if (!found)
                continue;
            const RuntimeChildRecord& r = *found;
            const auto it = table.byPID.constFind(r.pid);
            if (it == table.byPID.cend() || it->state == 'Z') {
                if (!leftovers(r, table).isEmpty()) {
                    leftBehind.append(r);
                    kept.append(r);
                }
                continue;
            }
            if (it->argv0 != r.exe) {
                DeskCrumbs::drop(
                    QStringLiteral("child.reap 跳过 pid=%1：argv0 对不上（%2 ≠ %3）").arg(r.pid).arg(it->argv0, r.exe));
                continue;
            }
            // The same command line can belong to a new process that reused
            // the pid; only the executable it runs tells. (Another user's
            // process has no readable link and cannot be signalled anyway.)
            if (it->exe.isEmpty() || canonical(it->exe) != canonical(r.exe)) {
                DeskCrumbs::drop(QStringLiteral("child.reap 跳过 pid=%1：可执行文件对不上（%2 ≠ %3）")
                                     .arg(r.pid)
                                     .arg(it->exe.isEmpty() ? QStringLiteral("?") : it->exe, r.exe));
                continue;
            }
            if (!adopters.contains(it->ppid)) {
                DeskCrumbs::drop(QStringLiteral("child.reap 跳过 pid=%1：ppid=%2 不是孤儿").arg(r.pid).arg(it->ppid));
                kept.append(r);
                continue;
            }
            ending.append(r);
            // Its record stays until it has been ended, so a crash meanwhile
            // leaves it for the next launch.
            kept.append(r);
        }
        save(kept, ledger);
    }

    // Ending takes up to the grace each; the lock is not held meanwhile, so
    // that a worker started now can still be recorded at once.
    QList<RuntimeChildRecord> reaped;
    for (const RuntimeChildRecord& r : std::as_const(ending)) {
        // Looked at again once the process is held: the listing may be
        // seconds old by now.
        const auto same = [&r, &adopters] {
            const std::optional<ProcessTable::Entry> e = ProcessTable::entry(r.pid);
            return e && e->state != 'Z' && e->argv0 == r.exe && !e->exe.isEmpty()
                && canonical(e->exe) == canonical(r.exe) && adopters.contains(e->ppid);
        };
        if (!ProcessSignals::terminate(r.pid, 3.0, same))
            continue;
        DeskCrumbs::drop(QStringLiteral("child.reap 收掉 pid=%1 exe=%2").arg(r.pid).arg(r.exe));
        reaped.append(r);
    }
    for (const RuntimeChildRecord& r : std::as_const(leftBehind)) {
        const auto same = [&r](pid_t pid) {
            const std::optional<ProcessTable::Entry> e = ProcessTable::entry(pid);
            return e && e->state != 'Z' && e->pgid == r.pid && carriesMarks(pid, r);
        };
        const int ended = ProcessSignals::terminateEach(leftovers(r, ProcessTable::snapshot()), 3.0, same);
        if (ended == 0)
            continue;
        DeskCrumbs::drop(QStringLiteral("child.reap 收掉 pid=%1 留下的 %2 个进程").arg(r.pid).arg(ended));
        reaped.append(r);
    }
    if (!ending.isEmpty() || !leftBehind.isEmpty()) {
        const QMutexLocker locker(&lock());
        const Ledger ledger = read();
        QList<RuntimeChildRecord> records = ledger.records;
        records.removeIf([&](const RuntimeChildRecord& r) { return ending.contains(r) || leftBehind.contains(r); });
        save(records, ledger);
    }
    return reaped;
}

QList<RuntimeChildRecord> reapAtLaunch(qint32 myPID)
{
    const QList<RuntimeChildRecord> reaped = reapOrphans(myPID);
    if (!reaped.isEmpty())
        DeskCrumbs::drop(QStringLiteral("启动时收掉上一任留下的孤儿 %1 个").arg(reaped.size()));
    return reaped;
}

} // namespace RuntimeChildLedger
