#pragma once

#include <QStringList>

// The workspace commands: they read and write the pairing files in
// ~/.tolvarine (config.json, the current workspace, and workspaces/<id>.json).
namespace Pairing {

// `workspaces`: lists the paired workspaces.
int workspaces(const QStringList& args);
// `pair --path <folder> --grant <tier>`: registers the folder with the gateway
// (or, with none answering, invents a workspace) and writes the pairing files.
int pair(const QStringList& args);
// `workspace relocate --ws <id> [--dry-run | <folder>] --json`.
int relocate(const QStringList& args);

} // namespace Pairing
