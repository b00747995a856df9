#pragma once

#include "core/platform/ProcessTable.h"
#include "core/runtimes/RuntimeChildRecord.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFuture>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

// "desktop_children.json" in ~/.tolvarine: every runtime worker the
// application started and has not seen end, so that the next launch can end
// the ones a crash left behind. Instances with homes of their own share it:
// every read-modify-write holds one lock between threads and one between
// processes ("desktop_children.lock"), so that each keeps the others' records. A
// file that cannot be read is kept as "desktop_children.json.bad" before the
// next write replaces it.
namespace RuntimeChildLedger {

// The variable that carries a worker's launch mark (RuntimeChildRecord::launch).
inline constexpr char kLaunchVariable[] = "TOLVARINE_LAUNCH";

QString filePath();
// The ledger file's content: a JSON array of complete records, in order. None
// (with the reason) when anything in it is not, so no half list is acted on.
std::optional<QList<RuntimeChildRecord>> decode(const QByteArray& data, QString* error = nullptr);
// The records in file order, once every change handed to the writer below
// has landed; empty when the file is missing or unreadable (the latter with a
// breadcrumb).
QList<RuntimeChildRecord> load();
// Replaces any record with the same pid (a pid of 0 is no one's) or the same
// launch mark, and appends this one.
void record(const RuntimeChildRecord& record);
// Drops the record of that pid; rewrites the file also when there was none.
void forget(qint32 pid);

// record() and forget() for the GUI thread: they return at once, and one
// writer on the thread pool applies the changes in the order given (those
// handed in while it writes go together into its next write). The future
// holds why that write did not reach the disk, or none once it has.
QFuture<std::optional<QString>> recordLater(const RuntimeChildRecord& record);
// Drops the record of that pid, or of that launch mark when given.
void forgetLater(qint32 pid, const QString& launch = {});
// Blocks until every change handed in so far has landed.
void waitForWrites();
// Ends, for every record whose owner is gone, each process that carries its
// launch mark in its environment (the worker and whatever it started, whatever
// they run), and the rest of the process group of each such process while one
// of the group still carries the mark; nothing else: a process with neither is
// never signalled, nor this instance, the processes it runs under or those it
// started. A record goes once nothing carries its mark (at once when nothing
// did). Returns the records whose processes were ended, a record written
// before its worker had a pid with the worker's pid filled in. A failed or
// empty process listing ends nothing and rewrites nothing. `lockHeld` says
// whether nothing was done because another process held the ledger's lock
// (try again later). Run for this process, it also removes what interrupted
// writes of the ledger left before this process started.
QList<RuntimeChildRecord> reapOrphans(
    qint32 myPID, const std::function<ProcessTable()>& snapshot = &ProcessTable::snapshot, bool* lockHeld = nullptr);

// What the application does once launching has finished: reapOrphans() with
// its own pid, and a breadcrumb with the count when anything was reaped.
QList<RuntimeChildRecord> reapAtLaunch(qint32 myPID, bool* lockHeld = nullptr);

// A record with this process as its owner (pid, start, PID namespace and
// product home) and nothing else filled in.
RuntimeChildRecord ownRecord();

// Ends what a stopped worker's launch mark names outside the worker's own
// group `exceptGroup` (which its owner ends): the processes that carry `mark`
// (a child that left the group with setsid) and the rest of their groups while
// a marked member lives. SIGTERM, the grace, SIGKILL to what is left; never
// this process or those it runs under. Blocks; returns how many were signalled.
int endMarked(const QString& mark, pid_t exceptGroup, double graceSeconds);

// The lock file between processes ("desktop_children.lock").
QString lockPath();
// A change's failure when another program held that lock past the wait, and
// whether a failure is one.
QString lockHeldBy(const QString& lockPath);
bool isLockHeld(const QString& failure);
// Every wait for the lock from now on ends by `deadline` (quitting waits a
// few seconds in all for a lock someone else holds, not one wait per write).
void endLockWaitsBy(const QDeadlineTimer& deadline);

} // namespace RuntimeChildLedger
