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

} // namespace TolvarinePaths
