#pragma once

#include <QMap>
#include <QString>

#include <optional>

// "runtime_models.json": the model a runtime kind should use instead of its
// bound profile's default model, as an object kind → model name.
namespace RuntimeModelStore {

QString filePath();
// Missing or undecodable file gives an empty map; non-string and empty values are skipped.
QMap<QString, QString> load();
std::optional<QString> model(const QString& kind);
// Sets the kind's override, or removes it when none or an empty name is given.
bool setModel(const QString& kind, const std::optional<QString>& model, QString* error = nullptr);

} // namespace RuntimeModelStore
