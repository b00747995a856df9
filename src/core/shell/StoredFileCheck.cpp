#include "core/shell/StoredFileCheck.h"

#include "core/agents/AdvancedConnection.h"
#include "core/agents/AdvancedConnectionStore.h"
#include "core/gateway/CLIConfig.h"
#include "core/gateway/Json.h"
#include "core/platform/JsonFile.h"
#include "core/platform/TolvarinePaths.h"
#include "core/providers/ProviderProfile.h"
#include "core/providers/ProviderProfileStore.h"
#include "core/providers/RuntimeBindingStore.h"
#include "core/providers/RuntimeModelStore.h"
#include "core/runtimes/RuntimeChildLedger.h"
#include "core/runtimes/RuntimeEnablementStore.h"
#include "core/workspaces/WorkspaceCatalog.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>

#include <functional>

namespace StoredFileCheck {

namespace {

using Decodes = std::function<bool(const QByteArray&)>;

// The file as its reader sees it; none when it reads.
std::optional<QString> whyUnreadable(const QString& path, const Decodes& decodes)
{
    const JsonFile::Stored stored = JsonFile::readStored(path);
    switch (stored.state) {
    case JsonFile::Stored::State::Missing:
        return std::nullopt;
    case JsonFile::Stored::State::Unreadable:
        return stored.reason;
    case JsonFile::Stored::State::Read:
        break;
    }
    if (decodes(stored.data))
        return std::nullopt;
    if (stored.data.trimmed().isEmpty())
        return QStringLiteral("是空的");
    QJsonParseError error;
    QJsonDocument::fromJson(stored.data, &error);
    if (error.error != QJsonParseError::NoError)
        return QStringLiteral("不是完整的 JSON");
    return QStringLiteral("内容的格式不对");
}

bool isObject(const QByteArray& data)
{
    return json::parseObject(data).has_value();
}

} // namespace

QList<Problem> run()
{
    QList<Problem> out;
    const auto check = [&out](const QString& path, const Decodes& decodes, bool keptAsBad) {
        // A folder in a store's place is never moved aside.
        if (const std::optional<QString> why = whyUnreadable(path, decodes))
            out.append({ path, *why, keptAsBad && !QFileInfo(path).isDir() });
    };
    const Decodes pairing = [](const QByteArray& data) { return CLIConfig::fromJson(data).has_value(); };
    for (const QString& folder : TolvarinePaths::pairingFolders()) {
        check(folder + QStringLiteral("/config.json"), pairing, false);
        // Every entry the catalogue would take for a pairing file by its
        // name, also one that is not a plain file.
        const QDir workspaces(folder + QStringLiteral("/workspaces"));
        const QFileInfoList entries = workspaces.entryInfoList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo& entry : entries) {
            if (WorkspaceCatalog::isPairingFile(entry.fileName()))
                check(entry.filePath(), pairing, false);
        }
    }
    check(
        RuntimeChildLedger::filePath(),
        [](const QByteArray& data) { return RuntimeChildLedger::decode(data).has_value(); }, true);
    check(
        RuntimeEnablementStore::filePath(),
        [](const QByteArray& data) { return RuntimeEnablementStore::decode(data).has_value(); }, true);
    check(
        ProviderProfileStore::filePath(),
        [](const QByteArray& data) { return ProviderProfile::decodeList(data).has_value(); }, true);
    check(RuntimeBindingStore::filePath(), isObject, true);
    check(RuntimeModelStore::filePath(), isObject, true);
    check(
        AdvancedConnectionStore::filePath(),
        [](const QByteArray& data) { return AdvancedConnection::decodeList(data).has_value(); }, true);
    return out;
}

QString notice(const QList<Problem>& problems)
{
    if (problems.isEmpty())
        return {};
    const QString home = QDir::homePath() + QLatin1Char('/');
    QStringList parts;
    for (const Problem& p : problems) {
        const QString shown = p.path.startsWith(home) ? QStringLiteral("~/") + p.path.mid(home.size()) : p.path;
        QString part = shown + QStringLiteral("（") + p.reason;
        if (p.keptAsBad)
            part += QStringLiteral("；下次保存前原样留作 ") + QFileInfo(p.path).fileName() + QStringLiteral(".bad");
        parts.append(part + QStringLiteral("）"));
    }
    return QStringLiteral("有 %1 个文件读不了，先当作空的：").arg(problems.size()) + parts.join(QStringLiteral("；"));
}

} // namespace StoredFileCheck
