#include "core/runtimes/RuntimeLogin.h"

#include "core/platform/TerminalLauncher.h"

namespace RuntimeLogin {

QString shellQuote(const QString& word)
{
    QString w = word;
    w.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + w + QLatin1Char('\'');
}

QString shellLine(const QStringList& command, const std::optional<QString>& cwd)
{
    QStringList quoted;
    for (const QString& w : command)
        quoted << shellQuote(w);
    QString line = quoted.join(QLatin1Char(' '));
    if (cwd && !cwd->isEmpty())
        line = QStringLiteral("cd ") + shellQuote(*cwd) + QStringLiteral(" && ") + line;
    return line;
}

bool open(const QStringList& command, const std::optional<QString>& cwd)
{
    if (command.isEmpty())
        return false;
    return TerminalLauncher::open(shellLine(command, cwd));
}

} // namespace RuntimeLogin
