#pragma once

#include <QList>
#include <QString>

// Looks once, at launch, at every file the application reads from the
// tolvarine folders (the pairing files, the child ledger and the stores), and
// at the settings file, and finds the ones that are there but cannot be read:
// empty, cut short, not JSON, of the wrong shape, too large, not readable, a
// folder or a pipe in their place.
// Each such file is read as empty; the window says so in its notice. So it
// does for a damaged profiles file kept aside that still holds work back.
namespace StoredFileCheck {

struct Problem {
    QString path;
    // Why it cannot be read, in the user's words; for a copy kept aside,
    // what waits on it.
    QString reason;
    // The store keeps the file as "<name>.bad" before it next writes.
    bool keptAsBad = false;
    // Not a file that cannot be read: an earlier one kept aside as
    // "<name>.bad", which the user has yet to deal with.
    bool keptAside = false;

    bool operator==(const Problem&) const = default;
};

// Reads the files: blocking, so off the GUI thread.
QList<Problem> run();
// The notice for the problems found; empty when there are none.
QString notice(const QList<Problem>& problems);

} // namespace StoredFileCheck
