#pragma once

#include "core/agents/AdvancedConnection.h"

#include <QList>
#include <QString>
#include <QUuid>

// "advanced_runtimes.json" in the application's dot directory: the agent
// connections the user added, as a JSON array, replaced atomically with mode
// 0600. Every read-modify-write holds the store's lock.
class SerialExecutor;

namespace AdvancedConnectionStore {

QString filePath();
// The one queue, off the GUI thread, on which the user's changes to the file
// run (call the functions below inside its jobs).
SerialExecutor& queue();
// The connections in file order; a missing or undecodable file gives none.
QList<AdvancedConnection> load();
// Replaces the connection with the same id or appends it. False (with the
// reason) when the file could not be written. A change over an undecodable
// file first keeps that file as "advanced_runtimes.json.bad".
bool upsert(const AdvancedConnection& connection, QString* error = nullptr);
// Removes the connection with that id; true also when there was none.
bool remove(const QUuid& id, QString* error = nullptr);

} // namespace AdvancedConnectionStore
