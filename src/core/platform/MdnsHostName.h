#pragma once

#include <QString>

#include <QCoroTask>

#include <optional>

// This machine's name on the local network (mDNS), such as "desk.local", as
// the Avahi daemon reports it: GetHostNameFqdn of org.freedesktop.Avahi.Server
// at "/" on the system bus. None when Avahi is not running (it is never
// started for this) or there is no system bus. The system bus is the one
// DBUS_SYSTEM_BUS_ADDRESS names when that is set, as for every D-Bus client.
namespace MdnsHostName {

// How long one ask may wait for the bus.
constexpr int kCallTimeoutMs = 1000;
// How long an answer is kept before the daemon is asked again (it renames the
// host on a name conflict, and may start after the application).
constexpr int kKeepMs = 30000;

// The name: the kept answer while it is fresh, else asked anew off the GUI
// thread. The awaiting thread needs a running event loop.
QCoro::Task<std::optional<QString>> lookup();
// Forgets the kept answer (tests).
void forget();

} // namespace MdnsHostName
