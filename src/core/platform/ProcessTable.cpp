#include "core/platform/ProcessTable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray readSmall(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

// The fields of /proc/PID/stat after "pid (comm)": state, ppid, pgrp, …;
// comm may hold spaces and brackets, so they are read from the last ')'.
QList<QByteArray> statFields(pid_t pid)
{
    const QByteArray stat = readSmall(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype close = stat.lastIndexOf(')');
    if (stat.isEmpty() || close < 0)
        return {};
    QList<QByteArray> rest = stat.mid(close + 1).trimmed().split(' ');
    if (rest.size() < 3 || rest.at(0).isEmpty())
        return {};
    return rest;
}

QList<pid_t> listedPids()
{
    QList<pid_t> out;
    const QStringList names = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        bool ok = false;
        const int pid = name.toInt(&ok);
        if (ok && pid > 0)
            out.append(pid);
    }
    return out;
}

} // namespace

std::optional<ProcessTable::Entry> ProcessTable::entry(pid_t pid)
{
    const QString base = QStringLiteral("/proc/%1/").arg(pid);
    const QList<QByteArray> rest = statFields(pid);
    if (rest.isEmpty())
        return std::nullopt;
    bool ok = false;
    bool groupOk = false;
    const int ppid = rest.at(1).toInt(&ok);
    const int pgid = rest.at(2).toInt(&groupOk);
    if (!ok || !groupOk)
        return std::nullopt;
    Entry e;
    e.pid = pid;
    e.ppid = ppid;
    e.pgid = pgid;
    e.state = rest.at(0).at(0);
    // starttime is the stat file's 22nd field, the 20th after the name.
    if (rest.size() > 19)
        e.startTicks = rest.at(19).toULongLong();
    const QByteArray cmdline = readSmall(base + QStringLiteral("cmdline"));
    const qsizetype nul = cmdline.indexOf('\0');
    e.argv0 = QString::fromUtf8(nul < 0 ? cmdline : cmdline.left(nul));
    e.exe = QFileInfo(base + QStringLiteral("exe")).symLinkTarget();
    return e;
}

ProcessTable ProcessTable::snapshot()
{
    ProcessTable table;
    for (const pid_t pid : listedPids()) {
        if (std::optional<Entry> e = entry(pid))
            table.byPID.insert(pid, *e);
    }
    return table;
}

QList<pid_t> ProcessTable::groupMembers(pid_t pgid)
{
    QList<pid_t> out;
    if (pgid < 2)
        return out;
    for (const pid_t pid : listedPids()) {
        const QList<QByteArray> fields = statFields(pid);
        if (!fields.isEmpty() && fields.at(0).at(0) != 'Z' && fields.at(2).toInt() == pgid)
            out.append(pid);
    }
    return out;
}

quint64 ProcessTable::ownStartTicks()
{
    static const quint64 ticks = [] {
        const std::optional<Entry> self = entry(::getpid());
        return self ? self->startTicks : quint64(0);
    }();
    return ticks;
}

quint64 ProcessTable::ownPidNamespace()
{
    struct stat ns { };
    return ::stat("/proc/self/ns/pid", &ns) == 0 ? quint64(ns.st_ino) : 0;
}

QDateTime ProcessTable::bootTime()
{
    const QList<QByteArray> lines = readSmall(QStringLiteral("/proc/stat")).split('\n');
    for (const QByteArray& line : lines) {
        if (line.startsWith("btime "))
            return QDateTime::fromSecsSinceEpoch(line.mid(6).trimmed().toLongLong(), Qt::UTC);
    }
    return {};
}

quint64 ProcessTable::ticksPerSecond()
{
    const long ticks = ::sysconf(_SC_CLK_TCK);
    return ticks > 0 ? quint64(ticks) : 100;
}

QByteArray ProcessTable::environment(pid_t pid)
{
    return readSmall(QStringLiteral("/proc/%1/environ").arg(pid));
}

QList<pid_t> ProcessTable::ancestors(pid_t pid) const
{
    QList<pid_t> out;
    QSet<pid_t> seen { pid };
    pid_t current = pid;
    while (true) {
        const auto it = byPID.constFind(current);
        if (it == byPID.cend() || it->ppid <= 0 || seen.contains(it->ppid))
            break;
        current = it->ppid;
        seen.insert(current);
        out.append(current);
    }
    return out;
}
