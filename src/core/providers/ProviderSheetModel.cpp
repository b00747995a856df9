#include "core/providers/ProviderSheetModel.h"

#include "core/gateway/NetworkAccess.h"
#include "core/platform/SecretStore.h"
#include "core/platform/SerialExecutor.h"
#include "core/providers/CredentialBroker.h"
#include "core/providers/ProviderProfileStore.h"
#include "core/providers/ProviderVerify.h"
#include "core/providers/RuntimeBindingStore.h"

#include <QPointer>

namespace {

// The secret store's calls may block (a prompt, a stalled daemon): each runs
// on the store's queue. Empty text: done.
QCoro::Task<QString> storeKey(QUuid id, QString key)
{
    return SecretStore::queue().task([id, key = std::move(key)] {
        QString error;
        return CredentialBroker::storeKey(id, key, &error) ? QString() : error;
    });
}

QCoro::Task<QString> deleteKey(QUuid id)
{
    return SecretStore::queue().task([id] {
        QString error;
        return CredentialBroker::deleteKey(id, &error) ? QString() : error;
    });
}

QCoro::Task<std::optional<QString>> readKey(QUuid id)
{
    return SecretStore::queue().task([id] { return CredentialBroker::profileKey(id); });
}

QCoro::Task<QSet<QUuid>> keyedAmong(QList<QUuid> ids)
{
    return SecretStore::queue().task([ids = std::move(ids)] { return CredentialBroker::keyedProfiles(ids); });
}

// A change to the profiles file made on its queue, and the profiles as they
// stand after it.
struct Changed {
    bool ok = false;
    QString error;
    QList<ProviderProfile> profiles;
};

template <typename F> QCoro::Task<Changed> changeProfiles(F change)
{
    return ProviderProfileStore::queue().task([change = std::move(change)] {
        Changed changed;
        changed.ok = change(&changed.error);
        changed.profiles = ProviderProfileStore::load();
        return changed;
    });
}

QCoro::Task<QList<ProviderProfile>> loadProfiles()
{
    return ProviderProfileStore::queue().task(&ProviderProfileStore::load);
}

QCoro::Task<Changed> upsertProfile(ProviderProfile profile)
{
    return changeProfiles([profile](QString* error) { return ProviderProfileStore::upsert(profile, error); });
}

QCoro::Task<Changed> removeProfile(QUuid id)
{
    return changeProfiles([id](QString* error) { return ProviderProfileStore::remove(id, error); });
}

// Empty text: bound (or unbound).
QCoro::Task<QString> bindKind(QString kind, std::optional<QUuid> profile)
{
    return RuntimeBindingStore::queue().task([kind = std::move(kind), profile] {
        QString error;
        return RuntimeBindingStore::bind(kind, profile, &error) ? QString() : error;
    });
}

// Empty text: every runtime bound to the profile let go.
QCoro::Task<QString> unbindProfile(QUuid profile)
{
    return RuntimeBindingStore::queue().task([profile] {
        QString error;
        return RuntimeBindingStore::unbindProfile(profile, &error) ? QString() : error;
    });
}

std::optional<QString> nonEmpty(const QString& text)
{
    const QString t = text.trimmed();
    return t.isEmpty() ? std::nullopt : std::optional<QString>(t);
}

QString quoted(const QString& name)
{
    return QStringLiteral("「") + name + QStringLiteral("」");
}

} // namespace

ProviderSheetModel::ProviderSheetModel(QString runtimeKind, QString runtimeDisplay, RuntimeSetupInfo setup,
    QList<ProviderProfile> allProfiles, std::optional<QUuid> boundProfileID, QObject* parent)
    : QObject(parent)
    , m_kind(std::move(runtimeKind))
    , m_display(std::move(runtimeDisplay))
    , m_setup(std::move(setup))
    , m_all(std::move(allProfiles))
    , m_bound(boundProfileID)
{
    lookForKeys();
}

ProviderSheetModel::~ProviderSheetModel()
{
    // A check under way ends now, and nothing it learns is recorded or shown.
    m_closing = true;
    disconnect(this, nullptr, nullptr, nullptr);
    for (NetworkAccess::Reply* reply : findChildren<NetworkAccess::Reply*>())
        reply->abort();
}

QList<ProviderProfile> ProviderSheetModel::profiles() const
{
    QList<ProviderProfile> out;
    for (const ProviderProfile& p : m_all) {
        if (m_setup.slot(p.provider))
            out.append(p);
    }
    return out;
}

QCoro::Task<> ProviderSheetModel::lookForKeys()
{
    QList<QUuid> ids;
    for (const ProviderProfile& p : profiles())
        ids.append(p.id);
    if (ids.isEmpty())
        co_return;
    QPointer<ProviderSheetModel> self(this);
    auto look = keyedAmong(ids);
    const QSet<QUuid> keyed = co_await std::move(look);
    if (!self || self->m_closing)
        co_return;
    for (const QUuid& id : ids)
        self->m_hasKey.insert(id, keyed.contains(id));
    emit self->changed();
}

std::optional<bool> ProviderSheetModel::hasKey(const QUuid& profile) const
{
    const auto it = m_hasKey.constFind(profile);
    return it == m_hasKey.cend() ? std::nullopt : std::optional<bool>(*it);
}

std::optional<ProviderProfile> ProviderSheetModel::find(const QUuid& id) const
{
    for (const ProviderProfile& p : m_all) {
        if (p.id == id)
            return p;
    }
    return std::nullopt;
}

void ProviderSheetModel::setProfiles(const QList<ProviderProfile>& profiles)
{
    m_all = profiles;
    emit changed();
}

void ProviderSheetModel::setFeedback(const QUuid& id, Feedback::Kind kind, const QString& text)
{
    m_feedback.insert(id, Feedback { kind, text });
    emit changed();
}

void ProviderSheetModel::setForm(Feedback::Kind kind, const QString& text)
{
    m_form = Feedback { kind, text };
    m_formIsProblem = false;
    emit changed();
}

void ProviderSheetModel::setDone(const QString& text, bool problem)
{
    m_doneMessage = text;
    m_doneIsProblem = problem;
}

void ProviderSheetModel::sayOnForm()
{
    // A save under way keeps its word until it is done.
    if (!m_doneMessage || m_form.kind == Feedback::Kind::Working)
        return;
    m_form = Feedback { m_doneIsProblem ? Feedback::Kind::Failed : Feedback::Kind::Ok, *m_doneMessage };
    m_formIsProblem = false;
}

void ProviderSheetModel::draftEdited(const Draft& draft)
{
    if (m_formIsProblem && problem(draft) != m_form.text)
        setForm(Feedback::Kind::Idle, QString());
}

std::optional<QString> ProviderSheetModel::problem(const Draft& draft) const
{
    if (!m_setup.slot(draft.provider))
        return QStringLiteral("先选一家模型服务");
    if (draft.name.trimmed().isEmpty())
        return QStringLiteral("给这个账号起个名字");
    if (draft.key.trimmed().isEmpty())
        return QStringLiteral("填上 Key");
    if (const std::optional<QString> why = ProviderVerify::baseURLProblem(draft.baseURL.trimmed()))
        return why;
    // A login in the address would travel with the check and sit in the profiles file.
    if (!QUrl(draft.baseURL.trimmed()).userInfo().isEmpty())
        return QStringLiteral("Base URL 不能带用户名或密码（Key 填在「Key」一栏）");
    return std::nullopt;
}

QCoro::Task<bool> ProviderSheetModel::bind(std::optional<QUuid> profile)
{
    std::optional<ProviderProfile> p;
    if (profile) {
        p = find(*profile);
        if (!p || !m_setup.slot(p->provider) || hasKey(*profile) == false)
            co_return false;
    }
    QPointer<ProviderSheetModel> self(this);
    auto write = bindKind(m_kind, profile);
    const QString error = co_await std::move(write);
    if (!self || self->m_closing)
        co_return false;
    if (!error.isEmpty()) {
        self->setForm(Feedback::Kind::Failed, QStringLiteral("改不了绑定：") + error);
        co_return false;
    }
    self->m_bound = profile;
    self->setDone(p ? self->m_display + QStringLiteral(" 改用") + quoted(p->name)
                    : self->m_display + QStringLiteral(" 不再绑账号 —— 它用自己登录的那个"));
    self->setForm(Feedback::Kind::Idle, QString());
    co_return true;
}

QCoro::Task<bool> ProviderSheetModel::create(Draft draft)
{
    if (const std::optional<QString> why = problem(draft)) {
        setForm(Feedback::Kind::Failed, *why);
        m_formIsProblem = true;
        co_return false;
    }
    if (m_form.kind == Feedback::Kind::Working)
        co_return false;
    ProviderProfile profile;
    profile.id = QUuid::createUuid();
    profile.provider = m_setup.slot(draft.provider)->provider;
    profile.name = draft.name.trimmed();
    profile.baseURL = nonEmpty(draft.baseURL);
    profile.defaultModel = nonEmpty(draft.defaultModel);
    profile.createdAt = QDateTime::currentDateTimeUtc();

    // The record goes first, so that a stored key always has a profile naming it.
    setForm(Feedback::Kind::Working, QStringLiteral("正在把 Key 存进系统密码库…"));
    QPointer<ProviderSheetModel> self(this);
    auto upsert = upsertProfile(profile);
    const Changed stored = co_await std::move(upsert);
    if (!stored.ok) {
        if (self && !self->m_closing)
            self->setForm(Feedback::Kind::Failed, QStringLiteral("存不下这个账号：") + stored.error);
        co_return false;
    }
    auto store = storeKey(profile.id, draft.key);
    const QString failed = co_await std::move(store);
    if (!failed.isEmpty()) {
        // A record without its key would only show "缺 Key".
        auto drop = removeProfile(profile.id);
        co_await std::move(drop);
        if (self && !self->m_closing)
            self->setForm(Feedback::Kind::Failed, failed);
        co_return false;
    }
    if (!self || self->m_closing)
        co_return false;
    auto reload = loadProfiles();
    const QList<ProviderProfile> now = co_await std::move(reload);
    if (!self || self->m_closing)
        co_return false;
    self->m_hasKey.insert(profile.id, true);
    self->setDone(QStringLiteral("新建了") + quoted(profile.name) + QStringLiteral("，Key 存在系统密码库里"));
    self->m_form = Feedback { Feedback::Kind::Ok, *self->m_doneMessage };
    self->setProfiles(now);
    co_return true;
}

QCoro::Task<> ProviderSheetModel::verify(QUuid id)
{
    const std::optional<ProviderProfile> profile = find(id);
    if (!profile || m_feedback.value(id).kind == Feedback::Kind::Working)
        co_return;
    setFeedback(id, Feedback::Kind::Working, QStringLiteral("正在验证…"));
    QPointer<ProviderSheetModel> self(this);
    auto read = readKey(id);
    const std::optional<QString> key = co_await std::move(read);
    if (!self || self->m_closing)
        co_return;
    self->m_hasKey.insert(id, key.has_value());
    ProviderVerify::Outcome outcome { false, QStringLiteral("系统密码库里没有它的 Key") };
    if (key) {
        // A manager of its own: one that had taken another account's login
        // (a Base URL with a password) would send it with this account's check.
        NetworkAccess::Manager* nam = NetworkAccess::create(self);
        auto check = ProviderVerify::check(nam, *profile, *key, ProviderVerify::kTimeLimitMs);
        outcome = co_await std::move(check);
        if (!self || self->m_closing)
            co_return;
        nam->deleteLater();
    }

    // Recorded on the profile as the file has it now.
    auto record = changeProfiles([fallback = *profile, outcome, at = QDateTime::currentDateTimeUtc()](QString* error) {
        ProviderProfile recorded = fallback;
        for (const ProviderProfile& p : ProviderProfileStore::load()) {
            if (p.id == recorded.id)
                recorded = p;
        }
        recorded.lastVerifiedAt = at;
        recorded.lastVerifyOK = outcome.ok;
        recorded.lastVerifyDetail = outcome.detail;
        return ProviderProfileStore::upsert(recorded, error);
    });
    const Changed recorded = co_await std::move(record);
    if (!self || self->m_closing)
        co_return;
    const bool saved = recorded.ok;
    const QString& error = recorded.error;
    const QString said
        = outcome.ok ? QStringLiteral("验证通过：") + outcome.detail : QStringLiteral("验证没过：") + outcome.detail;
    // A key the provider refused, or a check that got no answer, is no success.
    self->setDone(quoted(profile->name) + said, !outcome.ok);
    self->sayOnForm();
    // The profile's own record now shows the answer; only a record that could
    // not take it needs a word of its own.
    if (saved)
        self->m_feedback.remove(id);
    else
        self->m_feedback.insert(id,
            Feedback {
                Feedback::Kind::Failed, said + QStringLiteral("（结果没存下：") + error + QStringLiteral("）") });
    self->setProfiles(recorded.profiles);
}

QCoro::Task<> ProviderSheetModel::remove(QUuid id)
{
    const std::optional<ProviderProfile> profile = find(id);
    if (!profile || m_feedback.value(id).kind == Feedback::Kind::Working)
        co_return;
    setFeedback(id, Feedback::Kind::Working, QStringLiteral("正在删…"));
    QPointer<ProviderSheetModel> self(this);
    auto drop = deleteKey(id);
    const QString failed = co_await std::move(drop);
    if (!self || self->m_closing)
        co_return;
    if (!failed.isEmpty()) {
        self->setFeedback(id, Feedback::Kind::Failed, failed);
        co_return;
    }
    auto forget = removeProfile(id);
    const Changed removed = co_await std::move(forget);
    if (!self || self->m_closing)
        co_return;
    if (!removed.ok) {
        self->setFeedback(id, Feedback::Kind::Failed, QStringLiteral("Key 已删，账号记录没删掉：") + removed.error);
        co_return;
    }
    // Every runtime bound to it lets go now: a binding goes with the profile
    // the user deleted, and only then (the prune after a refresh removes
    // nothing while the profiles file may not list them all).
    auto unbind = unbindProfile(id);
    const QString unbindError = co_await std::move(unbind);
    if (!self || self->m_closing)
        co_return;
    if (self->m_bound == id)
        self->m_bound.reset();
    self->m_feedback.remove(id);
    self->setDone(QStringLiteral("删掉了") + quoted(profile->name) + QStringLiteral("和它的 Key"));
    self->sayOnForm();
    self->setProfiles(removed.profiles);
    // The row is gone: a binding that still names the profile is said on the
    // form, and is what the sheet hands back.
    if (!unbindError.isEmpty()) {
        const QString left
            = QStringLiteral("账号删了，但还绑着它的 Runtime 没解开（启动时会当作没绑账号）：") + unbindError;
        self->setDone(left, true);
        self->setForm(Feedback::Kind::Failed, left);
    }
}
