#include "core/workspaces/WorkspaceRecord.h"

#include <QFileInfo>

bool WorkspaceRecord::localPathExists() const
{
    if (!config.path || config.path->isEmpty())
        return false;
    return QFileInfo(*config.path).isDir();
}
