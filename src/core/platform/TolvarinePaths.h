#pragma once

#include <QString>
#include <QStringList>

// Where the application's files live: its own stores in the product home,
// the companion tool's pairing files and the application's breadcrumb log and
// snapshots in the user's real home.
namespace TolvarinePaths {

// $TOLVARINE_HOME when set and not empty, else the user's home.
QString productHome();
// productHome() + "/.tolvarine", created (with parents; the folder itself readable by the user alone) when missing; a
// failure to create it is ignored and shows up when a store is written.
QString dotTolvarine();

// A file in $HOME/.tolvarine (TOLVARINE_HOME does not move it), the folder
// created as for dotTolvarine().
QString homeFile(const QString& name);
// The folders the companion tool writes pairing files in, in the order they
// are read: $HOME/.tolvarine-protected, then $HOME/.tolvarine.
QStringList pairingFolders();

} // namespace TolvarinePaths
