#include "core/runtimes/RuntimeCardActions.h"

#include "core/platform/TolvarinePaths.h"
#include "core/runtimes/RuntimeInstall.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace RuntimeCardActions {

QString name(Action action)
{
    switch (action) {
    case Action::login:
        return QStringLiteral("login");
    case Action::install:
        return QStringLiteral("install");
    case Action::uninstall:
        return QStringLiteral("uninstall");
    case Action::reinstall:
        return QStringLiteral("reinstall");
    case Action::model:
        return QStringLiteral("model");
    case Action::disable:
        return QStringLiteral("disable");
    case Action::enable:
        return QStringLiteral("enable");
    case Action::stop:
        return QStringLiteral("stop");
    case Action::start:
        break;
    }
    return QStringLiteral("start");
}

bool startable(RuntimeUsability usability)
{
    switch (usability) {
    case RuntimeUsability::ready:
    case RuntimeUsability::loginRequired:
    case RuntimeUsability::credentialsRequired:
    case RuntimeUsability::degraded:
        return true;
    default:
        return false;
    }
}

QList<Action> actions(const Inputs& in)
{
    QList<Action> out;
    if (!in.row.loginCommand.isEmpty())
        out.append(Action::login);
    if (in.setup) {
        if (!in.row.installed && RuntimeInstall::command(*in.setup))
            out.append(Action::install);
        if (RuntimeInstall::uninstallCommand(*in.setup))
            out.append(Action::uninstall);
        if (RuntimeInstall::reinstallCommand(*in.setup))
            out.append(Action::reinstall);
        if (!in.setup->providerSlots.isEmpty())
            out.append(Action::model);
    }
    if (in.row.installed)
        out.append(in.enabled ? Action::disable : Action::enable);
    if (startable(in.row.usability) && in.hasWorkspace) {
        // A disabled kind still offers to stop a worker that runs.
        if (in.running)
            out.append(Action::stop);
        else if (in.enabled)
            out.append(Action::start);
    }
    return out;
}

RuntimeLaunch launch(const RuntimeRow& row)
{
    return { row.kind, row.detail.startsWith(QLatin1Char('/')) ? row.detail : row.kind, row.display };
}

QJsonObject table(const QList<RuntimeRow>& rows, const QMap<QString, bool>& enabled,
    const std::function<bool(const QString&)>& running, bool hasWorkspace, const QMap<QString, RuntimeSetupInfo>& setup)
{
    QJsonObject result;
    for (const RuntimeRow& row : rows) {
        Inputs in;
        in.row = row;
        in.hasWorkspace = hasWorkspace;
        in.enabled = enabled.value(row.kind, true);
        in.running = running(row.kind);
        if (const auto it = setup.constFind(row.kind); it != setup.cend())
            in.setup = *it;
        QJsonArray names;
        for (Action a : actions(in))
            names.append(name(a));
        result.insert(row.kind,
            QJsonObject { { QStringLiteral("actions"), names }, { QStringLiteral("enabled"), in.enabled },
                { QStringLiteral("installed"), row.installed },
                { QStringLiteral("usability"), RuntimeUsabilities::rawValue(row.usability) } });
    }
    return result;
}

QString filePath()
{
    return TolvarinePaths::homeFile(QStringLiteral("desktop_runtime_actions.json"));
}

QByteArray fileBytes(const QJsonObject& table)
{
    return QJsonDocument(table).toJson(QJsonDocument::Indented);
}

} // namespace RuntimeCardActions
