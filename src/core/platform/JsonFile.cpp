#include "core/platform/JsonFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace JsonFile {

bool writeAtomically(const QString& path, const QJsonDocument& doc, Access access, QString* error)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        if (error)
            *error = f.errorString();
        return false;
    }
    if (access == Access::Private)
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    f.write(doc.toJson(QJsonDocument::Indented));
    if (!f.commit()) {
        if (error)
            *error = f.errorString();
        return false;
    }
    return true;
}

bool keepAside(const QString& path, const QByteArray& data, Access access, QString* error)
{
    QSaveFile bad(path + QStringLiteral(".bad"));
    if (bad.open(QIODevice::WriteOnly)) {
        if (access == Access::Private)
            bad.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        if (bad.write(data) == data.size() && bad.commit())
            return true;
    }
    if (error)
        *error = bad.errorString();
    return false;
}

std::optional<QJsonDocument> read(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    QJsonParseError err;
    QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &err);
    if (err.error != QJsonParseError::NoError)
        return std::nullopt;
    return doc;
}

} // namespace JsonFile
