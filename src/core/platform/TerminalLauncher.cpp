#include "core/platform/TerminalLauncher.h"

#include <QProcess>
#include <QStandardPaths>

namespace TerminalLauncher {

QStringList command(const QString& shellLine)
{
    // The line runs in a login shell so the user's PATH applies, and the
    // window stays open afterwards so its output can be read.
    const QString line = shellLine + QStringLiteral("; exec \"${SHELL:-/bin/sh}\"");
    const QStringList shell { QStringLiteral("sh"), QStringLiteral("-lc"), line };

    const QString chosen = qEnvironmentVariable("TOLVARINE_TERMINAL");
    if (!chosen.isEmpty())
        return QStringList { chosen, QStringLiteral("-e") } + shell;
    struct Candidate {
        const char* program;
        const char* separator;
    };
    static const Candidate candidates[] = {
        { "x-terminal-emulator", "-e" },
        { "gnome-terminal", "--" },
        { "konsole", "-e" },
        { "xfce4-terminal", "-x" },
        { "xterm", "-e" },
    };
    for (const Candidate& c : candidates) {
        const QString path = QStandardPaths::findExecutable(QString::fromLatin1(c.program));
        if (!path.isEmpty())
            return QStringList { path, QString::fromLatin1(c.separator) } + shell;
    }
    return {};
}

bool open(const QString& shellLine)
{
    QStringList argv = command(shellLine);
    if (argv.isEmpty())
        return false;
    const QString program = argv.takeFirst();
    return QProcess::startDetached(program, argv);
}

} // namespace TerminalLauncher
