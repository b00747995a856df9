#include "core/gateway/CLIConfig.h"

#include "core/gateway/Json.h"
#include "core/platform/DisplayText.h"
#include "core/platform/Graphemes.h"
#include "core/platform/JsonFile.h"
#include "core/platform/TolvarinePaths.h"

#include <QMutex>
#include <QSet>

#include <unistd.h>

#include <array>
#include <cstring>

std::optional<CLIConfig> CLIConfig::fromJson(const QJsonObject& object)
{
    json::StrictReader r(object);
    CLIConfig c;
    c.api = r.requiredString(QStringLiteral("api"));
    c.workspace = r.requiredString(QStringLiteral("workspace"));
    c.token = r.requiredString(QStringLiteral("token"));
    c.path = r.optionalString(QStringLiteral("path"));
    c.device = r.optionalString(QStringLiteral("device"));
    c.name = r.optionalString(QStringLiteral("name"));
    c.runtime = r.optionalString(QStringLiteral("runtime"));
    c.runtimeKind = r.optionalString(QStringLiteral("runtime_kind"));
    if (!r.ok())
        return std::nullopt;
    return c;
}

std::optional<CLIConfig> CLIConfig::fromJson(const QByteArray& data)
{
    const auto object = json::parseObject(data);
    if (!object)
        return std::nullopt;
    return fromJson(*object);
}

namespace {
QMutex heldMutex;
QSet<QString> held;
} // namespace

std::optional<CLIConfig> CLIConfig::fromFile(const QString& filePath)
{
    const JsonFile::Stored stored = JsonFile::readStored(filePath);
    if (stored.state != JsonFile::Stored::State::Read)
        return std::nullopt;
    std::optional<CLIConfig> config = fromJson(stored.data);
    if (config && !config->token.isEmpty()) {
        const QMutexLocker lock(&heldMutex);
        held.insert(config->token);
    }
    return config;
}

QStringList CLIConfig::heldTokens()
{
    const QMutexLocker lock(&heldMutex);
    return held.values();
}

std::optional<CLIConfig> CLIConfig::current()
{
    for (const QString& folder : TolvarinePaths::pairingFolders()) {
        if (auto config = fromFile(folder + QStringLiteral("/config.json")))
            return config;
    }
    return std::nullopt;
}

QJsonObject CLIConfig::toJson() const
{
    QJsonObject o { { "api", api }, { "workspace", workspace }, { "token", token } };
    auto put = [&o](const char* key, const std::optional<QString>& v) {
        if (v)
            o.insert(QLatin1String(key), *v);
    };
    put("path", path);
    put("device", device);
    put("name", name);
    put("runtime", runtime);
    put("runtime_kind", runtimeKind);
    return o;
}

QString CLIConfig::displayName() const
{
    // The pairing file is anyone's to write: its name is shown as a name, cut
    // and without direction controls that would turn it around.
    if (name && !name->isEmpty())
        return DisplayText::name(*name);
    if (path && !path->isEmpty()) {
        QString p = *path;
        while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
            p.chop(1);
        const QString last = p.section(QLatin1Char('/'), -1);
        return DisplayText::name(last.isEmpty() ? p : last);
    }
    return DisplayText::name(Graphemes::leading(workspace, 8));
}

QString CLIConfig::deviceId() const
{
    if (device && !device->isEmpty())
        return *device;
    return QStringLiteral("cli-") + hostname();
}

QString CLIConfig::hostname()
{
    std::array<char, 256> buf {};
    if (::gethostname(buf.data(), buf.size()) != 0)
        return QStringLiteral("unknown-host");
    // A name that fills the buffer without a terminator is treated as unreadable.
    const size_t len = ::strnlen(buf.data(), buf.size());
    if (len == 0 || len == buf.size())
        return QStringLiteral("unknown-host");
    return QString::fromUtf8(buf.data(), static_cast<qsizetype>(len));
}
