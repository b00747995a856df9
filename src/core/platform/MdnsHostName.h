#pragma once

#include <QString>

#include <QCoroTask>

#include <optional>

// This machine's name on the local network (mDNS), such as "desk.local", as
// the Avahi daemon reports it: GetHostNameFqdn of org.freedesktop.Avahi.Server
// at "/" on the system bus. None when Avahi is not running (it is never
// started for this), or there is no system bus or it does not answer in time.
// The system bus is the one DBUS_SYSTEM_BUS_ADDRESS names when that is set,
// as for every D-Bus client.
namespace MdnsHostName {

// How long the bus may take to take a new connection (to authenticate it and
// answer its Hello): Qt connects only to a bus that did, since a bus that never
// answers would hold Qt's connection to it for 25 s, every later connection
// behind it, and the quit.
constexpr int kBusTimeoutMs = 1000;
// How long one ask may wait for the bus's answer.
constexpr int kCallTimeoutMs = 1000;
// How long a lookup waits for the asking, whatever the bus does.
constexpr int kLookupTimeoutMs = kBusTimeoutMs + kCallTimeoutMs + 500;
// How long an answer is kept before the daemon is asked again (it renames the
// host on a name conflict, and may start after the application).
constexpr int kKeepMs = 30000;

// Whether the system bus takes a new connection in time: it authenticates
// this user and replies to Hello (anything else is no answer). Each asking
// checks this first.
QCoro::Task<bool> systemBusAnswers();
// The name: the kept answer while it is fresh, else asked anew, the bus call
// off the GUI thread. Lookups meanwhile join the one asking, and none waits
// longer than kLookupTimeoutMs (an asking past that answers none at once).
// Called on the GUI thread.
QCoro::Task<std::optional<QString>> lookup();
// Forgets the kept answer (tests).
void forget();

} // namespace MdnsHostName
