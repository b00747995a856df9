#pragma once

#include "core/gateway/CLIConfig.h"

#include <QList>
#include <QString>

#include <optional>

// One paired workspace of the catalogue: the whole pairing file.
struct WorkspaceRecord {
    CLIConfig config;

    QString id() const { return config.workspace; }
    // The paired folder exists as a directory (path used as stored).
    bool localPathExists() const;

    bool operator==(const WorkspaceRecord&) const = default;

    // The folder `path` names as the file system tells folders apart:
    // absolute, "." and ".." and a trailing slash dropped, symbolic links
    // resolved while it exists. Touches the disk.
    static QString resolvedFolder(const QString& path);
    // The record other than the workspace `except` whose folder is `folder`;
    // none when no other workspace is paired to it. Touches the disk.
    static std::optional<WorkspaceRecord> pairedAt(
        const QList<WorkspaceRecord>& records, const QString& folder, const QString& except);
};
