#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

// One paired workspace, as the companion tool writes it when it pairs a folder.
// The application reads these files and never writes them.
struct CLIConfig {
    QString api;
    QString workspace;
    QString token;
    std::optional<QString> path;
    std::optional<QString> device;
    std::optional<QString> name;
    std::optional<QString> runtime;
    std::optional<QString> runtimeKind;

    bool operator==(const CLIConfig&) const = default;

    // Fails as a whole (none) or gives a complete record: the three required
    // keys must be strings, the optional ones strings or null or missing.
    static std::optional<CLIConfig> fromJson(const QJsonObject& object);
    static std::optional<CLIConfig> fromJson(const QByteArray& data);
    // Reads and decodes one file; none when it cannot be read or decoded.
    static std::optional<CLIConfig> fromFile(const QString& filePath);
    // Every token read from a pairing file so far (by any thread): a
    // gateway's message may echo any of them, not only its request's own.
    static QStringList heldTokens();
    // The workspace the companion tool last paired or chose: "config.json" in
    // the protected pairing folder, else in the plain one; none when neither decodes.
    static std::optional<CLIConfig> current();
    QJsonObject toJson() const;

    // The name under which the workspace is shown.
    QString displayName() const;
    // The device id presented to the gateway and the companion tool.
    QString deviceId() const;

    // The machine's host name, read anew each call; "unknown-host" when it
    // cannot be read or is empty.
    static QString hostname();
};
