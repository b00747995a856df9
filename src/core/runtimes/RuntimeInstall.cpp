#include "core/runtimes/RuntimeInstall.h"

#include "core/runtimes/RuntimeLogin.h"

#include <QRegularExpression>

namespace RuntimeInstall {

std::optional<QStringList> command(const RuntimeSetupInfo& s)
{
    if (!s.installSupported || !s.installPackage || s.installPackage->isEmpty() || !s.installMethod)
        return std::nullopt;
    const QString& p = *s.installPackage;
    const QString& m = *s.installMethod;
    if (m == QLatin1String("npm"))
        return QStringList { QStringLiteral("npm"), QStringLiteral("install"), QStringLiteral("-g"), p };
    if (m == QLatin1String("brew"))
        return QStringList { QStringLiteral("brew"), QStringLiteral("install"), p };
    if (m == QLatin1String("pipx"))
        return QStringList { QStringLiteral("pipx"), QStringLiteral("install"), p };
    if (m == QLatin1String("pip"))
        return QStringList { QStringLiteral("pip"), QStringLiteral("install"), QStringLiteral("--upgrade"), p };
    if (m == QLatin1String("go"))
        return QStringList { QStringLiteral("go"), QStringLiteral("install"), p };
    return std::nullopt;
}

std::optional<QStringList> uninstallCommand(const RuntimeSetupInfo& s)
{
    if (!s.uninstallSupported || !s.uninstallPackage || s.uninstallPackage->isEmpty() || !s.uninstallMethod)
        return std::nullopt;
    if (*s.uninstallMethod == QLatin1String("npm"))
        return QStringList { QStringLiteral("npm"), QStringLiteral("uninstall"), QStringLiteral("-g"),
            *s.uninstallPackage };
    return std::nullopt;
}

QString quoteIfNeeded(const QString& word)
{
    static const QRegularExpression plain(QStringLiteral(R"(^[A-Za-z0-9@%+=:,./_\-]+$)"));
    return plain.match(word).hasMatch() ? word : RuntimeLogin::shellQuote(word);
}

std::optional<QStringList> reinstallCommand(const RuntimeSetupInfo& s)
{
    const std::optional<QStringList> uninstall = uninstallCommand(s);
    const std::optional<QStringList> install = command(s);
    if (!uninstall || !install)
        return std::nullopt;
    auto line = [](const QStringList& words) {
        QStringList quoted;
        for (const QString& w : words)
            quoted << quoteIfNeeded(w);
        return quoted.join(QLatin1Char(' '));
    };
    return QStringList { QStringLiteral("sh"), QStringLiteral("-lc"),
        line(*uninstall) + QStringLiteral(" && ") + line(*install) };
}

} // namespace RuntimeInstall
