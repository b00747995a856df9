#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

// The companion tool's `runtimes --json` report, as the desktop reads it.
// Every required key must be there with its JSON type, or the whole report fails.

struct RuntimeHealthInfo {
    bool installed = false;
    bool healthy = false;
    std::optional<QString> version;
    std::optional<QString> path;
    std::optional<QString> error;

    bool operator==(const RuntimeHealthInfo&) const = default;
};

struct RuntimeAuthInfo {
    QString state;
    QString source;
    std::optional<QString> hint;
    std::optional<QStringList> login;
    std::optional<QString> loginNote;

    bool operator==(const RuntimeAuthInfo&) const = default;
};

struct RuntimeEntry {
    QString kind;
    QString display;
    QString adapter;
    RuntimeHealthInfo health;
    RuntimeAuthInfo auth;
    QString usability; // the raw word; mapped when a row is built
    bool isProtocol = false;
    QMap<QString, qint64> capCounts;

    bool operator==(const RuntimeEntry&) const = default;
};

struct RuntimeInventory {
    QList<RuntimeEntry> runtimes;
    QMap<QString, qint64> counts;

    // None on any violation, with a description naming the failing key.
    static std::optional<RuntimeInventory> decode(const QByteArray& data, QString* error = nullptr);
};
