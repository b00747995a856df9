#pragma once

#include "core/gateway/RuntimeLaunch.h"
#include "core/providers/RuntimeSetupInfo.h"
#include "core/runtimes/RuntimeRow.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// Which buttons a runtime card offers, and the action table that lists them
// for every inventory row in "desktop_runtime_actions.json", so that tools
// outside the window can read what it offers.
namespace RuntimeCardActions {

enum class Action { login, install, uninstall, reinstall, model, disable, enable, stop, start };

// "login", "install", … as in the table and the buttons' identifiers.
QString name(Action action);

// What the rules look at.
struct Inputs {
    RuntimeRow row;
    bool hasWorkspace = false;
    std::optional<RuntimeSetupInfo> setup;
    bool enabled = true;
    bool running = false;
};

// Ready, login required, credentials required and degraded runtimes can start.
bool startable(RuntimeUsability usability);

// The actions offered, in button order. An installed row always has one (its
// enable or disable), so no runtime is ever left without a way back.
QList<Action> actions(const Inputs& in);

// The worker a card's start button launches: the row's detail as the command
// when it is an absolute path, else the kind.
RuntimeLaunch launch(const RuntimeRow& row);

// The table: kind → {"actions", "enabled", "installed", "usability"}; a later
// row of the same kind replaces an earlier one. A kind missing from `enabled`
// is enabled; `running` is asked once per row.
QJsonObject table(const QList<RuntimeRow>& rows, const QMap<QString, bool>& enabled,
    const std::function<bool(const QString&)>& running, bool hasWorkspace,
    const QMap<QString, RuntimeSetupInfo>& setup);

// ~/.tolvarine/desktop_runtime_actions.json (the user's home, whatever
// TOLVARINE_HOME says).
QString filePath();
// The file's content for the table: pretty-printed, keys sorted. Writing it
// is a SerialFileWriter's job, off the GUI thread.
QByteArray fileBytes(const QJsonObject& table);

} // namespace RuntimeCardActions
