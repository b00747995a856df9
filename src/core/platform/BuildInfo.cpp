#include "core/platform/BuildInfo.h"

#include "BuildInfoGenerated.h"

namespace BuildInfo {

QString version()
{
    return QStringLiteral(TOLVARINE_VERSION);
}
QString buildNumber()
{
    return QStringLiteral(TOLVARINE_BUILD_NUMBER);
}
QString commit()
{
    return QStringLiteral(TOLVARINE_GIT_COMMIT);
}

} // namespace BuildInfo
