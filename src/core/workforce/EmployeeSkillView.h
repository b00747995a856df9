#pragma once

#include <QJsonValue>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

// The employee skill contract as the companion tool's `employee evidence
// <role> --json` reports it. Decoding is lenient field by field: a missing,
// null or mistyped key gives the field's default; a list or map is taken
// whole or not at all. Only a value that is not an object fails.

struct CapabilityView {
    QString capability;
    QString evidenceLevel = QStringLiteral("unknown");
    bool sufficient = false;
    QString why;
    QString evidenceRef;
    QStringList runtimeCompatibility;

    QString id() const { return capability; }
    bool operator==(const CapabilityView&) const = default;
    static std::optional<CapabilityView> fromJson(const QJsonValue& value);
};

struct BlockingView {
    QString kind;
    QString what;
    QString why;
    QString nextStepOwner;
    QString status;

    QString id() const { return kind + QLatin1Char(':') + what; }
    bool operator==(const BlockingView&) const = default;
    static std::optional<BlockingView> fromJson(const QJsonValue& value);
};

struct EmployeeSkillView {
    QString employeeRole;
    QString skillID;
    QString skillName;
    QString skillVersion;
    QString resolutionStatus;
    QList<CapabilityView> capabilities;
    QStringList requiredArtifacts;
    QStringList requiredValidators;
    QMap<QString, bool> validatorsAvailable;
    bool humanReview = false;
    QList<BlockingView> blocking;
    QStringList candidateRuntimes;

    bool operator==(const EmployeeSkillView&) const = default;
    static std::optional<EmployeeSkillView> fromJson(const QJsonValue& value);
};
