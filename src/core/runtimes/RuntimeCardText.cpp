#include "core/runtimes/RuntimeCardText.h"

#include "core/platform/CredentialRedaction.h"
#include "core/runtimes/RuntimeInstall.h"

namespace RuntimeCardText {

namespace {

QString joined(const QStringList& words)
{
    return words.join(QLatin1Char(' '));
}

// Characters that may continue a file name: after one of them the home
// folder is only the start of a longer name ("/home/al" in "/home/alice").
bool continuesName(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char('_') || c == QLatin1Char('-')
        || c == QLatin1Char('@') || c == QLatin1Char('+') || c == QLatin1Char('~');
}

} // namespace

QString sentence(RuntimeUsability usability)
{
    switch (usability) {
    case RuntimeUsability::ready:
        return QStringLiteral("装好了，随时可以在这个工作区里跑。");
    case RuntimeUsability::loginRequired:
        return QStringLiteral("它装好了，但还没登录 —— 现在派活给它，会在模型那一步停下。");
    case RuntimeUsability::credentialsRequired:
        return QStringLiteral("它装好了，但还没配好凭据 —— 现在派活给它，会在模型那一步停下。");
    case RuntimeUsability::notInstalled:
        return QStringLiteral("这台电脑上没有它。装好之后这一屏会自己认出来。");
    case RuntimeUsability::unsupported:
        return QStringLiteral("它是一类接口，不是一个能单独装在这台电脑上的程序。");
    case RuntimeUsability::userSupplied:
        return QStringLiteral("要用它，得先指定一台电脑上的可执行文件。现在还没指定。");
    case RuntimeUsability::degraded:
    case RuntimeUsability::unknown:
        break;
    }
    return QStringLiteral("状态问不出来。展开「诊断」看看它到底说了什么。");
}

QString shortenHome(const QString& text, const QString& home)
{
    QString root = home;
    while (root.size() > 1 && root.endsWith(QLatin1Char('/')))
        root.chop(1);
    if (root.isEmpty() || root == QLatin1String("/"))
        return text;
    QString out;
    qsizetype from = 0;
    for (qsizetype at = text.indexOf(root); at >= 0; at = text.indexOf(root, at + 1)) {
        const qsizetype end = at + root.size();
        // A home inside a longer path ("/x/home/al") is not the home either.
        const bool startsPath = at == 0 || !continuesName(text.at(at - 1));
        const bool endsPath = end == text.size() || !continuesName(text.at(end));
        if (at < from || !startsPath || !endsPath)
            continue;
        out += text.mid(from, at - from) + QLatin1Char('~');
        from = end;
    }
    return out + text.mid(from);
}

QString clipboardDiagnostics(const RuntimeRow& row, const QString& home)
{
    return shortenHome(CredentialRedaction::redact(row.diagnosticText()), home);
}

QString help(RuntimeCardActions::Action action, const RuntimeRow& row, const std::optional<RuntimeSetupInfo>& setup)
{
    using RuntimeCardActions::Action;
    const QString inTerminal = QStringLiteral("在终端里跑：");
    switch (action) {
    case Action::login:
        return row.loginNote.isEmpty() ? inTerminal + joined(row.loginCommand) : row.loginNote;
    case Action::install:
        if (setup)
            if (const auto command = RuntimeInstall::command(*setup))
                return inTerminal + joined(*command);
        return {};
    case Action::uninstall:
        if (setup)
            if (const auto command = RuntimeInstall::uninstallCommand(*setup))
                return QStringLiteral("会把这条命令送到终端：") + joined(*command);
        return {};
    case Action::reinstall:
        // "sh", "-lc", then the shell line: only the line is worth reading.
        if (setup)
            if (const auto command = RuntimeInstall::reinstallCommand(*setup))
                return inTerminal + joined(command->mid(2));
        return {};
    case Action::disable:
        return QStringLiteral("停用只是不再把活派给它。不卸载、不退出登录、不删凭据，也不杀正在跑的进程。");
    case Action::enable:
        return QStringLiteral("重新允许 Tolvarine 把活派给它。");
    case Action::model:
    case Action::stop:
    case Action::start:
        break;
    }
    return {};
}

QString uninstallMessage(const std::optional<RuntimeSetupInfo>& setup)
{
    const QString untouched = QStringLiteral("它只卸这个程序本身；你配的账号与系统密码库里那把 Key 都不动。");
    if (setup)
        if (const auto command = RuntimeInstall::uninstallCommand(*setup))
            return QStringLiteral("Desktop 不替你按下去 —— 命令会出现在终端里：") + joined(*command)
                + QStringLiteral("。") + untouched;
    return untouched;
}

QString earlyEnd(const QString& display, int status, bool signalled, const QString& lastLine)
{
    const QString how
        = signalled ? QStringLiteral("被信号 %1 结束").arg(status) : QStringLiteral("退出码 %1").arg(status);
    const QString text = display + QStringLiteral(" 刚启动就自己退出了（") + how + QStringLiteral("）");
    if (lastLine.isEmpty())
        return text + QStringLiteral("，没有留下任何输出。");
    return text + QStringLiteral("，最后一行输出是「") + lastLine
        + QStringLiteral("」。完整输出在本区最下面的日志里。");
}

QString unrecorded(const QString& ledgerPath, const QString& why)
{
    return QStringLiteral("它在运行，但没能记进 ") + ledgerPath + QStringLiteral("（") + why
        + QStringLiteral("）：Tolvarine 要是意外退出，下次启动时不会替你结束它。腾出磁盘空间、让这个文件夹可写之后，"
                         "按「停止」再「启动」一次。");
}

QString unrecordedLockHeld(const QString& ledgerPath, const QString& lockPath)
{
    return QStringLiteral("它在运行，但没能记进 ") + ledgerPath + QStringLiteral("：另一个程序一直占着 ") + lockPath
        + QStringLiteral("。Tolvarine 要是意外退出，下次启动时不会替你结束它。等那个程序放开这个文件（或结束它）之后，"
                         "按「停止」再「启动」一次。");
}

} // namespace RuntimeCardText
