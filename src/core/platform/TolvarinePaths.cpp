#include "core/platform/TolvarinePaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// Creates the application's folder when it is missing, readable by the user
// alone: its stores name provider accounts and connections. A folder that is
// already there is left as it is.
void ensureFolder(const QString& dir)
{
    if (QFileInfo::exists(dir))
        return;
    if (QDir().mkpath(dir))
        QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

} // namespace

namespace TolvarinePaths {

QString productHome()
{
    const QString home = qEnvironmentVariable("TOLVARINE_HOME");
    return home.isEmpty() ? QDir::homePath() : home;
}

QString dotTolvarine()
{
    const QString dir = QDir(productHome()).filePath(QStringLiteral(".tolvarine"));
    ensureFolder(dir);
    return dir;
}

QString homeFile(const QString& name)
{
    const QString dir = QDir::homePath() + QStringLiteral("/.tolvarine");
    ensureFolder(dir);
    return dir + QLatin1Char('/') + name;
}

QStringList pairingFolders()
{
    const QString home = QDir::homePath();
    return { home + QStringLiteral("/.tolvarine-protected"), home + QStringLiteral("/.tolvarine") };
}

} // namespace TolvarinePaths
