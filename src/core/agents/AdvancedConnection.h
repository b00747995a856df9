#pragma once

#include "core/design/AdvancedConnectionKind.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>

// One agent connection the user added: what it is called and the command line
// that starts it on this machine.
struct AdvancedConnection {
    QUuid id;
    AdvancedConnectionKind kind = AdvancedConnectionKind::generic;
    QString name;
    QString command;
    QDateTime createdAt;

    bool operator==(const AdvancedConnection&) const = default;

    // The command line cut into words at blanks, double quotes grouping (as
    // QProcess::splitCommand does); nothing is expanded, no shell runs it.
    QStringList words() const;
    // Whether a double quote is left open: words() would run it to the end
    // of the line (or drop a lone one at its end) without a word.
    bool hasOpenQuote() const;

    QJsonObject toJson() const;
    // None when a required key is missing or any key has the wrong type.
    static std::optional<AdvancedConnection> fromJson(const QJsonObject& object);
    // A JSON array of connections; one bad element makes the whole list unreadable (none).
    static std::optional<QList<AdvancedConnection>> decodeList(const QByteArray& data);
};
