#include "core/runtimes/RuntimeLogin.h"

#include "core/platform/TerminalLauncher.h"
#include "core/runtimes/RuntimeInstall.h"

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

QString shellLineAfterEnter(const QStringList& command, const std::optional<QString>& cwd)
{
    // The command is shown as the user would type it; what runs is the fully
    // quoted line. Both reach printf as data, never as its format.
    QStringList shown;
    for (const QString& w : command)
        shown << RuntimeInstall::quoteIfNeeded(w);
    return QStringLiteral("printf '%s\\n' ") + shellQuote(shown.join(QLatin1Char(' ')))
        + QStringLiteral("; printf '%s' ") + shellQuote(QStringLiteral("按回车运行，按 Ctrl-C 放弃："))
        + QStringLiteral(" && read -r _ && ") + shellLine(command, cwd);
}

bool open(const QStringList& command, const std::optional<QString>& cwd, Start start)
{
    if (command.isEmpty())
        return false;
    return TerminalLauncher::open(
        start == Start::afterEnter ? shellLineAfterEnter(command, cwd) : shellLine(command, cwd));
}

} // namespace RuntimeLogin
