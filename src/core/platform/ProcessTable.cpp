#include "core/platform/ProcessTable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace {

QByteArray readSmall(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

} // namespace

std::optional<ProcessTable::Entry> ProcessTable::entry(pid_t pid)
{
    const QString base = QStringLiteral("/proc/%1/").arg(pid);
    // /proc/PID/stat: "pid (comm) state ppid …"; comm may hold spaces and
    // brackets, so the fields after it are read from the last ')'.
    const QByteArray stat = readSmall(base + QStringLiteral("stat"));
    const qsizetype close = stat.lastIndexOf(')');
    if (stat.isEmpty() || close < 0)
        return std::nullopt;
    const QList<QByteArray> rest = stat.mid(close + 1).trimmed().split(' ');
    if (rest.size() < 2 || rest.at(0).isEmpty())
        return std::nullopt;
    bool ok = false;
    const int ppid = rest.at(1).toInt(&ok);
    if (!ok)
        return std::nullopt;
    Entry e;
    e.pid = pid;
    e.ppid = ppid;
    e.state = rest.at(0).at(0);
    const QByteArray cmdline = readSmall(base + QStringLiteral("cmdline"));
    const qsizetype nul = cmdline.indexOf('\0');
    e.argv0 = QString::fromUtf8(nul < 0 ? cmdline : cmdline.left(nul));
    e.exe = QFileInfo(base + QStringLiteral("exe")).symLinkTarget();
    return e;
}

ProcessTable ProcessTable::snapshot()
{
    ProcessTable table;
    const QStringList names = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        bool ok = false;
        const int pid = name.toInt(&ok);
        if (!ok || pid <= 0)
            continue;
        if (std::optional<Entry> e = entry(pid))
            table.byPID.insert(pid, *e);
    }
    return table;
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
