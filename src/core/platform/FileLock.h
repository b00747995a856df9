#pragma once

#include <QString>

#include <atomic>

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

private:
    int m_fd = -1;
    bool m_busy = false;
    QString m_error;
};
