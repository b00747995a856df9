#pragma once

#include "SimReply.h"

#include <QHash>
#include <QJsonObject>
#include <QStringList>
#include <QUrlQuery>

// The stand-in gateway's memory: every workspace in scenario format, and the
// changes the real gateway makes when the application acts on it.
class SimState {
public:
    // Loads a scenario document ({"workspaces":[…]}); false with a reason when
    // it is not one.
    bool load(const QJsonObject& scenario, QString* error);

    bool has(const QString& ws) const { return m_workspaces.contains(ws); }
    QString token(const QString& ws) const;

    // Control API.
    QJsonObject workspace(const QString& ws) const { return m_workspaces.value(ws); }
    void replace(const QString& ws, const QJsonObject& object);
    void merge(const QString& ws, const QJsonObject& object);
    SimReply addWorkspace(const QJsonObject& body);
    SimReply grant(const QString& ws, const QJsonObject& body);

    // Gateway endpoints (the workspace is known and the token checked).
    SimReply pairStart(const QJsonObject& body) const;
    SimReply commands(const QString& ws) const;
    SimReply progress(const QString& ws, const QString& id, const QUrlQuery& query) const;
    SimReply changes(const QString& ws, const QString& id) const;
    SimReply blob(const QString& ws, const QString& hash) const;
    SimReply list(const QString& ws, const QString& stateKey, const QString& replyKey) const;
    SimReply permissions(const QString& ws) const;
    SimReply confirm(const QString& ws, const QString& tier, const QJsonObject& body);
    SimReply act(const QString& ws, const QString& feedId, const QJsonObject& body);
    SimReply retry(const QString& ws, const QString& id);
    SimReply remove(const QString& ws, const QString& id);

    // Applies the steps of the scripted commands (a workspace's "advance")
    // that are due `elapsedMs` after the stand-in started.
    void tick(qint64 elapsedMs);

    // Turns "@now", "@now-300", "@now+60" strings anywhere in the value into
    // ISO 8601 UTC times relative to the current moment.
    static QJsonValue resolveTimes(const QJsonValue& value);

    static const QStringList& tiers();

private:
    int commandIndex(const QString& ws, const QString& id) const;
    void applyStep(const QString& ws, const QString& id, const QJsonObject& step);

    QStringList m_order;
    QHash<QString, QJsonObject> m_workspaces;
    // Steps applied so far per scripted command ("<ws>/<id>").
    QHash<QString, qint64> m_applied;
};
