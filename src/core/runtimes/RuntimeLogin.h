#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Runs an argument vector (a runtime's login command, an install vector) in a
// terminal window the user sees and answers.
namespace RuntimeLogin {

// "'" + word with every "'" as "'\''" + "'".
QString shellQuote(const QString& word);
// The quoted words joined by spaces, after "cd <quoted cwd> && " when a folder is given.
QString shellLine(const QStringList& command, const std::optional<QString>& cwd);
// A line that shows the command, waits for Enter and only then runs it (as
// shellLine() does); Ctrl-C or the end of input leaves without running it.
QString shellLineAfterEnter(const QStringList& command, const std::optional<QString>& cwd);

enum class Start { now, afterEnter };
// False without starting anything for an empty command; else whether a terminal started.
bool open(const QStringList& command, const std::optional<QString>& cwd, Start start = Start::now);

} // namespace RuntimeLogin
