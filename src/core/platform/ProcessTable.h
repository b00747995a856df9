#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include <sys/types.h>

#include <optional>

// A snapshot of the machine's processes, read from /proc.
class ProcessTable {
public:
    struct Entry {
        pid_t pid = 0;
        pid_t ppid = 0;
        // The process group it belongs to.
        pid_t pgid = 0;
        // The first word of the command line (whole, even with spaces in it).
        QString argv0;
        // The resolved path of the running executable; empty when /proc does
        // not tell (another user's process).
        QString exe;
        // 'R', 'S', 'Z', … from /proc/PID/stat.
        char state = '?';
        // When it started, in clock ticks since boot: with the pid, it names
        // one process, where a pid alone may by now name a later one.
        quint64 startTicks = 0;
    };

    QHash<pid_t, Entry> byPID;

    // Every process /proc lists; empty when /proc cannot be read.
    static ProcessTable snapshot();
    // One process, or none when it is gone.
    static std::optional<Entry> entry(pid_t pid);
    // The processes of the group `pgid` that still run (zombies left out).
    static QList<pid_t> groupMembers(pid_t pgid);
    // The process's environment as /proc gives it ("NAME=value", each ended by
    // a NUL); empty when it cannot be read (gone, or another user's).
    static QByteArray environment(pid_t pid);
    // This process's own start (Entry::startTicks); 0 when /proc does not tell.
    static quint64 ownStartTicks();
    // This process's PID namespace (the inode of /proc/self/ns/pid); 0 when
    // /proc does not tell. The first one the system made has a fixed number.
    static quint64 ownPidNamespace();
    static constexpr quint64 kInitialPidNamespace = 0xEFFFFFFCu;
    // When the machine started (start ticks count from there), and how many
    // ticks make a second; invalid and 100 when /proc does not tell.
    static QDateTime bootTime();
    static quint64 ticksPerSecond();

    bool isEmpty() const { return byPID.isEmpty(); }
    // The chain of parents of a process, nearest first, ending before PID 0.
    QList<pid_t> ancestors(pid_t pid) const;
};
