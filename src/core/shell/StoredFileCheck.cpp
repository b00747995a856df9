#include "core/shell/StoredFileCheck.h"

#include "core/agents/AdvancedConnection.h"
#include "core/agents/AdvancedConnectionStore.h"
#include "core/gateway/CLIConfig.h"
#include "core/gateway/Json.h"
#include "core/platform/JsonFile.h"
#include "core/platform/Settings.h"
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
    // Saved over while damaged, the profiles file went aside: until the user
    // has taken back what it holds, no profile missing from the new file can
    // be taken for one the user deleted.
    const QString profiles = ProviderProfileStore::filePath();
    if (JsonFile::hasAside(profiles)) {
        out.append({ JsonFile::asidePath(profiles),
            QStringLiteral("早先读不了的供应商配置原样留在这里，里面可能还有你的配置；把要的内容并回 %1 "
                           "并删掉它之前，旧密钥的迁移和失效绑定的清理都先停着")
                .arg(QFileInfo(profiles).fileName()),
            false, true });
    }
    check(RuntimeBindingStore::filePath(), isObject, true);
    check(RuntimeModelStore::filePath(), isObject, true);
    check(
        AdvancedConnectionStore::filePath(),
        [](const QByteArray& data) { return AdvancedConnection::decodeList(data).has_value(); }, true);
    // The settings are read as empty while their file is not to be opened.
    if (const std::optional<QString> why = Settings::whyNotOpened())
        out.append({ Settings::filePath(), *why });
    return out;
}

QString notice(const QList<Problem>& problems)
{
    const QString home = QDir::homePath() + QLatin1Char('/');
    const auto shown = [&home](const QString& path) {
        return path.startsWith(home) ? QStringLiteral("~/") + path.mid(home.size()) : path;
    };
    QStringList unreadable;
    QStringList aside;
    for (const Problem& p : problems) {
        if (p.keptAside) {
            aside.append(shown(p.path) + QStringLiteral("：") + p.reason + QStringLiteral("。"));
            continue;
        }
        QString part = shown(p.path) + QStringLiteral("（") + p.reason;
        if (p.keptAsBad)
            part += QStringLiteral("；下次保存前原样留作 ") + QFileInfo(p.path).fileName() + QStringLiteral(".bad");
        unreadable.append(part + QStringLiteral("）"));
    }
    QString out;
    if (!unreadable.isEmpty())
        out = QStringLiteral("有 %1 个文件读不了，先当作空的：").arg(unreadable.size())
            + unreadable.join(QStringLiteral("；")) + (aside.isEmpty() ? QString() : QStringLiteral("。"));
    return out + aside.join(QString());
}

} // namespace StoredFileCheck
