#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <optional>

// An exclusive lock between processes (and threads), held for the life of the
// object: flock on a file of its own beside what it guards, created when
// missing. A lock taken on a file that was removed or replaced meanwhile is
// let go and taken on the one now in its place, so that two holders always
// hold the same file.
class FileLock {
public:
    // Waits up to `timeoutMs` for the lock (a holder that is stopped would
    // hold it for ever).
    // The wait also ends once the clock reaches `*endAt` (milliseconds since
    // the epoch), when that is set (not 0): a deadline others may move closer
    // while this waits.
    explicit FileLock(const QString& path, int timeoutMs = 10000, const std::atomic<qint64>* endAt = nullptr);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool isLocked() const { return m_fd >= 0; }
    // Not held because another holder kept it past the wait (otherwise the
    // lock file itself could not be had).
    bool isBusy() const { return m_busy; }
    // Why it is not held.
    QString error() const { return m_error; }

    // Whether the flock another open file holds on `fd`'s file counts for
    // this user: not when every holder the system lists (/proc/locks) runs as
    // another user (anyone who can read a folder can lock it); a holder it
    // does not list (a process of another PID namespace) counts.
    static bool heldForThisUser(int fd);
    // The pids the system's list of locks (/proc/locks) gives as holding an
    // flock on the file `device`:`inode` (waiters hold nothing). Where no line
    // names the device stat() gives, the lines with the inode on any device:
    // the list names a file system's own device, which stat() does not give
    // for a btrfs subvolume or an overlay.
    static QList<qint64> flockHolders(const QByteArray& locks, quint64 device, quint64 inode);

private:
    int m_fd = -1;
    bool m_busy = false;
    QString m_error;
};

// The one-instance lock of a product home (the folder that holds the stores'
// ".tolvarine"): an flock on the home folder itself, which no removal of the
// stores can replace, and one on "desktop.lock" in the stores' folder, which
// only this user can open, for when the folder's is held by another user's
// process. Both are checked the same way by whoever asks whether an instance
// runs there.
namespace InstanceLock {

QString fallbackPath(const QString& home);
// Whether an instance holds `home` now, judged by the locks alone (so across
// PID namespaces); none when the home cannot be opened from here. A free
// lock is taken for a moment to tell.
std::optional<bool> held(const QString& home);

} // namespace InstanceLock
