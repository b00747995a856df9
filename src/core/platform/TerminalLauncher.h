#pragma once

#include <QString>
#include <QStringList>

// Opens a shell line in a new terminal window the user can see and answer:
// $TOLVARINE_TERMINAL when set, else x-terminal-emulator, else the first of
// gnome-terminal, konsole, xfce4-terminal and xterm found on PATH. The
// terminal is started detached and not waited for.
namespace TerminalLauncher {

// The program and arguments that would open the line; empty when no terminal is found.
QStringList command(const QString& shellLine);
// True when a terminal was started.
bool open(const QString& shellLine);

} // namespace TerminalLauncher
