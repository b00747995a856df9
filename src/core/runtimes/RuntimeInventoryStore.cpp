#include "core/runtimes/RuntimeInventoryStore.h"

#include "core/gateway/CLI.h"
#include "core/platform/CredentialRedaction.h"
#include "core/platform/DeskCrumbs.h"
#include "core/platform/Graphemes.h"
#include "core/platform/JsonFile.h"
#include "core/platform/OffMainThread.h"
#include "core/platform/SecretStore.h"
#include "core/platform/SerialExecutor.h"
#include "core/platform/TolvarinePaths.h"
#include "core/providers/CredentialBroker.h"
#include "core/providers/ProviderProfileStore.h"
#include "core/providers/RuntimeBindingStore.h"

#include <QCoroFuture>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>

#include <algorithm>

RuntimeInventoryStore::RuntimeInventoryStore(QObject* parent)
    : QObject(parent)
{
}

QString RuntimeInventoryStore::cliFailedText(int code, const QString& text)
{
    return QStringLiteral("brenlow runtimes --json 退出码 %1：").arg(code) + Graphemes::leading(text, 400);
}

QString RuntimeInventoryStore::tooLongText()
{
    return QStringLiteral("brenlow runtimes --json 输出了 %1 MB 以上，不像一份清单，没有读")
        .arg(CLI::kMaxOutputBytes / (1024 * 1024));
}

QString RuntimeInventoryStore::rawSnapshotPath()
{
    return TolvarinePaths::homeFile(QStringLiteral("desktop_runtimes_raw.json"));
}

QString RuntimeInventoryStore::snapshotPath()
{
    return TolvarinePaths::homeFile(QStringLiteral("desktop_runtimes.json"));
}

void RuntimeInventoryStore::dumpRaw(const QString& report)
{
    // The tool's text goes to disk as it came, secrets aside; the same text
    // again (the usual refresh) leaves the file as it is.
    const QByteArray bytes = CredentialRedaction::redact(report).toUtf8();
    const JsonFile::Stored stored = JsonFile::readStored(rawSnapshotPath());
    if (stored.state == JsonFile::Stored::State::Read && stored.data == bytes)
        return;
    JsonFile::replaceFile(rawSnapshotPath(), bytes);
}

void RuntimeInventoryStore::dumpForAcceptance(const QList<RuntimeRow>& rows)
{
    QJsonArray array;
    for (const RuntimeRow& r : rows) {
        QJsonObject o;
        o.insert(QStringLiteral("kind"), r.kind);
        o.insert(QStringLiteral("display"), r.display);
        o.insert(QStringLiteral("installed"), r.installed);
        o.insert(QStringLiteral("version"), r.version);
        o.insert(QStringLiteral("auth_state"), r.authState);
        o.insert(QStringLiteral("usability"), RuntimeUsabilities::rawValue(r.usability));
        o.insert(QStringLiteral("cap_yes"), r.capYes);
        o.insert(QStringLiteral("cap_auth_required"), r.capAuthRequired);
        o.insert(QStringLiteral("cap_unknown"), r.capUnknown);
        array.append(o);
    }
    JsonFile::writeAtomically(snapshotPath(), QJsonDocument(array));
}

RuntimeInventoryStore::Outcome RuntimeInventoryStore::fetch(
    std::chrono::milliseconds timeLimit, std::shared_ptr<ProcessGroup> group)
{
    Outcome outcome;
    const CLI::Result result = CLI::run({ QStringLiteral("runtimes"), QStringLiteral("--json") }, std::nullopt,
        std::nullopt, std::nullopt, timeLimit, std::move(group));
    if (result.failed()) {
        outcome.failure = result.error;
        outcome.toolMissing = result.failure == CLI::Failure::NotFound;
        return outcome;
    }
    if (result.code != 0 && result.out.trimmed().isEmpty()) {
        outcome.failure = cliFailedText(result.code, QStringLiteral("（一个字都没输出）"));
        return outcome;
    }
    const qsizetype brace = result.out.indexOf(QLatin1Char('{'));
    if (brace < 0) {
        outcome.failure = cliFailedText(result.code, result.out);
        return outcome;
    }
    // A report of which only the start was kept is not one.
    if (result.outputCut) {
        outcome.failure = tooLongText();
        return outcome;
    }
    // Warnings and banners before the report are dropped; anything after it
    // stays and must be part of valid JSON.
    const QString report = result.out.mid(brace);
    dumpRaw(report);
    const QByteArray bytes = report.toUtf8();
    outcome.setup = RuntimeSetupInfo::decodeReport(bytes).value_or(QList<RuntimeSetupInfo> {});
    QString error;
    std::optional<RuntimeInventory> inventory = RuntimeInventory::decode(bytes, &error);
    if (!inventory) {
        outcome.failure = error;
        outcome.setup.clear();
        return outcome;
    }
    outcome.entries = inventory->runtimes;
    outcome.counts = inventory->counts;
    // Written here, off the GUI thread (with a sync to disk); a store's
    // refreshes never overlap, so the latest rows are the ones left on disk.
    QList<RuntimeRow> rows;
    for (const RuntimeEntry& e : *outcome.entries)
        rows.append(RuntimeRow(e));
    dumpForAcceptance(rows);
    return outcome;
}

void RuntimeInventoryStore::refresh()
{
    if (m_running)
        return;
    m_running = true;
    ++m_runsStarted;
    m_loading = true;
    emit changed();
    DeskCrumbs::drop(QStringLiteral("runtimes.refresh 开始"));
    run();
}

QCoro::Task<> RuntimeInventoryStore::run()
{
    QPointer<RuntimeInventoryStore> self(this);
    const quint64 runNumber = m_runsStarted;
    const std::chrono::milliseconds limit = m_timeLimit;
    // The run is stopped when the store goes first.
    const ProcessGroup::Scope scope(this);
    auto job = [limit, group = scope.group()] { return fetch(limit, group); };
    auto task = offMainThread(std::move(job));
    const Outcome outcome = co_await std::move(task);
    if (!self)
        co_return;
    if (outcome.entries) {
        self->applySetup(outcome.setup);
        co_await self->loadProfiles();
        if (!self)
            co_return;
    }
    // The rows never wait for the key store: what it says lands after them.
    self->m_runApplied = runNumber;
    self->apply(outcome);
    if (outcome.entries) {
        co_await self->loadCredentials();
        if (!self)
            co_return;
    }
    emit self->refreshed();
}

void RuntimeInventoryStore::apply(const Outcome& outcome)
{
    m_running = false;
    m_loading = false;
    m_stamp = QDateTime::currentDateTime();
    m_toolMissing = outcome.toolMissing;
    if (outcome.entries) {
        QList<RuntimeRow> rows;
        for (const RuntimeEntry& e : *outcome.entries)
            rows.append(RuntimeRow(e));
        m_rows = rows;
        m_counts = outcome.counts;
        m_failure.reset();
        DeskCrumbs::drop(QStringLiteral("runtimes.refresh 成功 %1 行").arg(m_rows.size()));
    } else {
        m_failure = CredentialRedaction::redact(outcome.failure);
        DeskCrumbs::drop(QStringLiteral("runtimes.refresh 失败 ") + *m_failure);
    }
    emit changed();
    emit reportApplied();
}

void RuntimeInventoryStore::applySetup(const QList<RuntimeSetupInfo>& setup)
{
    QMap<QString, RuntimeSetupInfo> map;
    for (const RuntimeSetupInfo& s : setup) {
        if (!map.contains(s.kind))
            map.insert(s.kind, s);
    }
    m_setup = map;
    emit changed();
}

QCoro::Task<> RuntimeInventoryStore::refreshConfigured()
{
    QPointer<RuntimeInventoryStore> self(this);
    co_await loadProfiles();
    if (!self)
        co_return;
    co_await self->loadCredentials();
}

void RuntimeInventoryStore::applyProfiles(const Profiles& read)
{
    m_profiles = read.profiles;
    m_bindings = read.bindings;
    emit changed();
}

QCoro::Task<> RuntimeInventoryStore::loadProfiles()
{
    QPointer<RuntimeInventoryStore> self(this);
    // The changes the user made before this read (a sheet's new profile or
    // binding, on those files' own queues) land first. Read on the bindings'
    // queue, after them, and never behind the key store.
    auto profilesSettled = ProviderProfileStore::queue().task([] {});
    co_await std::move(profilesSettled);
    auto task = RuntimeBindingStore::queue().task(&RuntimeInventoryStore::readProfiles);
    const Profiles read = co_await std::move(task);
    if (self)
        self->applyProfiles(read);
}

QCoro::Task<> RuntimeInventoryStore::loadCredentials()
{
    QFuture<void> done;
    if (!m_credentialPass) {
        auto promise = std::make_shared<QPromise<void>>();
        promise->start();
        done = promise->future();
        credentialPasses(std::move(promise));
    } else {
        // The pass under way may have read the contracts before this
        // request's: one more follows it, for every request until it starts.
        if (!m_nextCredentialPass) {
            m_nextCredentialPass = std::make_shared<QPromise<void>>();
            m_nextCredentialPass->start();
        }
        done = m_nextCredentialPass->future();
    }
    // Finished also when the store goes first (its promise is then dropped).
    co_await done;
}

QCoro::Task<> RuntimeInventoryStore::credentialPasses(std::shared_ptr<QPromise<void>> done)
{
    QPointer<RuntimeInventoryStore> self(this);
    m_credentialPass = true;
    while (done) {
        const QMap<QString, RuntimeSetupInfo> setup = self->m_setup;
        auto job = [setup] { return readCredentials(setup); };
        // On the key store's queue: the migration moves keys, and nothing else
        // may reach the store in the middle of it.
        auto task = SecretStore::queue().task(std::move(job));
        const Credentials read = co_await std::move(task);
        if (!self) {
            done->finish();
            co_return;
        }
        self->m_configured = read.configured;
        if (read.profiles)
            self->applyProfiles(*read.profiles);
        else
            emit self->changed();
        done->finish();
        done = std::exchange(self->m_nextCredentialPass, {});
    }
    self->m_credentialPass = false;
}

RuntimeInventoryStore::Credentials RuntimeInventoryStore::readCredentials(const QMap<QString, RuntimeSetupInfo>& setup)
{
    Credentials out;
    // Read before the migration moves the legacy keys.
    QStringList providers;
    for (const RuntimeSetupInfo& s : setup) {
        if (s.credentialProvider && !s.credentialProvider->isEmpty() && !providers.contains(*s.credentialProvider))
            providers.append(*s.credentialProvider);
    }
    out.configured = CredentialBroker::configuredProviders(providers);
    // The rows already have the files as they were; read again only what the migration changed.
    if (migrateLegacyCredentialsIfNeeded(setup))
        out.profiles = readProfiles();
    return out;
}

RuntimeInventoryStore::Profiles RuntimeInventoryStore::readProfiles()
{
    Profiles out;
    // Read under the bindings' lock, so that the sheet cannot bind a new
    // profile between this read and the prune. A profiles file that does not
    // list every profile for certain (damaged, or an earlier one kept aside)
    // prunes nothing: the bindings are all that ties a runtime to its account.
    const std::optional<QList<ProviderProfile>> whole
        = RuntimeBindingStore::pruneAgainst(&ProviderProfileStore::loadChecked);
    // A damaged file shows what it still holds.
    QList<ProviderProfile> profiles = whole ? *whole : ProviderProfileStore::load();
    std::stable_sort(profiles.begin(), profiles.end(), [](const ProviderProfile& a, const ProviderProfile& b) {
        const int byProvider = QString::compare(a.provider, b.provider, Qt::CaseSensitive);
        if (byProvider != 0)
            return byProvider < 0;
        return QString::compare(a.name, b.name, Qt::CaseSensitive) < 0;
    });
    out.profiles = profiles;
    out.bindings = RuntimeBindingStore::load();
    return out;
}

std::optional<ProviderProfile> RuntimeInventoryStore::profile(const QString& kind) const
{
    const auto it = m_bindings.constFind(kind);
    if (it == m_bindings.cend())
        return std::nullopt;
    for (const ProviderProfile& p : m_profiles) {
        if (p.id == *it)
            return p;
    }
    return std::nullopt;
}

QString RuntimeInventoryStore::friendlyProviderName(
    const QMap<QString, RuntimeSetupInfo>& setup, const QString& provider)
{
    const QString lower = provider.toLower();
    for (const RuntimeSetupInfo& s : setup) {
        if (const std::optional<ProviderSlot> slot = s.slot(lower))
            return slot->display.isEmpty() ? slot->provider : slot->display;
    }
    return provider;
}

bool RuntimeInventoryStore::migrateLegacyCredentialsIfNeeded(const QMap<QString, RuntimeSetupInfo>& setup)
{
    // With a damaged profiles file there is no telling which providers have a
    // profile already, and a new one would set the user's file aside.
    const std::optional<QList<ProviderProfile>> stored = ProviderProfileStore::loadChecked();
    if (!stored)
        return false;
    // Nor with a damaged bindings file: binding the runtimes to the new
    // profile would set the user's bindings aside, and a key moved to a
    // profile that cannot be bound would reach no runtime.
    if (!RuntimeBindingStore::loadChecked())
        return false;
    QSet<QString> existing;
    for (const ProviderProfile& p : *stored)
        existing.insert(p.provider);

    QStringList candidates;
    for (const RuntimeSetupInfo& s : setup) {
        const QString name = s.credentialProvider.value_or(QString()).toLower();
        if (!name.isEmpty() && !candidates.contains(name))
            candidates.append(name);
    }
    std::sort(candidates.begin(), candidates.end());

    bool moved = false;

    for (const QString& provider : std::as_const(candidates)) {
        if (existing.contains(provider) || !CredentialBroker::isConfigured(provider))
            continue;
        ProviderProfile profile;
        profile.id = QUuid::createUuid();
        profile.provider = provider;
        profile.name = friendlyProviderName(setup, provider) + QStringLiteral("（原有）");
        profile.createdAt = QDateTime::currentDateTimeUtc();
        // The record goes first: a key moved under a profile that was never
        // written would sit where no later run looks for it.
        if (!ProviderProfileStore::upsert(profile))
            continue;
        if (!CredentialBroker::adoptLegacy(provider, profile.id)) {
            ProviderProfileStore::remove(profile.id);
            continue;
        }
        existing.insert(provider);
        moved = true;
        for (auto it = setup.cbegin(); it != setup.cend(); ++it) {
            if (it->slot(provider) && !RuntimeBindingStore::load().contains(it.key()))
                RuntimeBindingStore::bind(it.key(), profile.id);
        }
    }
    return moved;
}
