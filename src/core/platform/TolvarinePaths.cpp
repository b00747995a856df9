#include "core/platform/TolvarinePaths.h"

#include <QDir>

namespace TolvarinePaths {

QString productHome()
{
    const QString home = qEnvironmentVariable("TOLVARINE_HOME");
    return home.isEmpty() ? QDir::homePath() : home;
}

QString dotTolvarine()
{
    const QString dir = QDir(productHome()).filePath(QStringLiteral(".tolvarine"));
    QDir().mkpath(dir);
    return dir;
}

QString homeFile(const QString& name)
{
    const QString dir = QDir::homePath() + QStringLiteral("/.tolvarine");
    QDir().mkpath(dir);
    return dir + QLatin1Char('/') + name;
}

QStringList pairingFolders()
{
    const QString home = QDir::homePath();
    return { home + QStringLiteral("/.tolvarine-protected"), home + QStringLiteral("/.tolvarine") };
}

} // namespace TolvarinePaths
