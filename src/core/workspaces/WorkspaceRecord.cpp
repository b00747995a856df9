#include "core/workspaces/WorkspaceRecord.h"

#include <QDir>
#include <QFileInfo>

bool WorkspaceRecord::localPathExists() const
{
    if (!config.path || config.path->isEmpty())
        return false;
    return QFileInfo(*config.path).isDir();
}

QString WorkspaceRecord::resolvedFolder(const QString& path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

std::optional<WorkspaceRecord> WorkspaceRecord::pairedAt(
    const QList<WorkspaceRecord>& records, const QString& folder, const QString& except)
{
    if (folder.isEmpty())
        return std::nullopt;
    const QString wanted = resolvedFolder(folder);
    for (const WorkspaceRecord& r : records) {
        if (r.id() != except && r.config.path && !r.config.path->isEmpty() && resolvedFolder(*r.config.path) == wanted)
            return r;
    }
    return std::nullopt;
}
