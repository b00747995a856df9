#pragma once

#include "core/gateway/CLIConfig.h"

#include <QString>

// One paired workspace of the catalogue: the whole pairing file.
struct WorkspaceRecord {
    CLIConfig config;

    QString id() const { return config.workspace; }
    // The paired folder exists as a directory (path used as stored).
    bool localPathExists() const;

    bool operator==(const WorkspaceRecord&) const = default;
};
