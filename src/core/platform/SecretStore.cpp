#include "core/platform/SecretStore.h"

// libsecret pulls in GLib, whose headers use "signals" as an identifier.
#undef signals
#include <libsecret/secret.h>
#define signals Q_SIGNALS

namespace {

const SecretSchema* schema()
{
    static const SecretSchema s = {
        "org.tolvarine.Desktop.Secret",
        SECRET_SCHEMA_NONE,
        {
            { "service", SECRET_SCHEMA_ATTRIBUTE_STRING },
            { "account", SECRET_SCHEMA_ATTRIBUTE_STRING },
            { nullptr, SecretSchemaAttributeType(0) },
        },
        0,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
    };
    return &s;
}

QString takeError(GError* err)
{
    const QString text = err ? QString::fromUtf8(err->message) : QStringLiteral("unknown error");
    if (err)
        g_error_free(err);
    return text;
}

// Never destroyed: a key-store read still running on a pool thread when the
// application exits would otherwise meet a store freed by the exit's static
// destructors.
struct Shared {
    QMutex mutex;
    std::shared_ptr<SecretStore> store;
};
Shared& sharedSlot()
{
    static Shared* const s = new Shared;
    return *s;
}

QString itemKey(const QString& service, const QString& account)
{
    return service + QChar(0) + account;
}

} // namespace

std::shared_ptr<SecretStore> SecretStore::shared()
{
    Shared& s = sharedSlot();
    const QMutexLocker lock(&s.mutex);
    if (!s.store)
        s.store = std::make_shared<LibsecretStore>();
    return s.store;
}

void SecretStore::setShared(std::unique_ptr<SecretStore> store)
{
    Shared& s = sharedSlot();
    const QMutexLocker lock(&s.mutex);
    s.store = std::move(store);
}

std::optional<QByteArray> LibsecretStore::read(const QString& service, const QString& account)
{
    const QByteArray s = service.toUtf8();
    const QByteArray a = account.toUtf8();
    GError* err = nullptr;
    gchar* secret = secret_password_lookup_sync(
        schema(), nullptr, &err, "service", s.constData(), "account", a.constData(), nullptr);
    if (err) {
        g_error_free(err);
        return std::nullopt;
    }
    if (!secret)
        return std::nullopt;
    QByteArray out(secret);
    secret_password_free(secret);
    return out;
}

bool LibsecretStore::write(
    const QString& service, const QString& account, const QByteArray& secret, const QString& label, QString* error)
{
    const QByteArray s = service.toUtf8();
    const QByteArray a = account.toUtf8();
    const QByteArray l = label.toUtf8();
    GError* err = nullptr;
    // The Secret Service stores text; a secret with a NUL byte would be cut.
    if (secret.contains('\0')) {
        if (error)
            *error = QStringLiteral("secret contains a NUL byte");
        return false;
    }
    const gboolean ok = secret_password_store_sync(schema(), SECRET_COLLECTION_DEFAULT, l.constData(),
        secret.constData(), nullptr, &err, "service", s.constData(), "account", a.constData(), nullptr);
    if (!ok || err) {
        const QString text = takeError(err);
        if (error)
            *error = text;
        return false;
    }
    return true;
}

bool LibsecretStore::remove(const QString& service, const QString& account, QString* error)
{
    const QByteArray s = service.toUtf8();
    const QByteArray a = account.toUtf8();
    GError* err = nullptr;
    secret_password_clear_sync(schema(), nullptr, &err, "service", s.constData(), "account", a.constData(), nullptr);
    if (err) {
        const QString text = takeError(err);
        if (error)
            *error = text;
        return false;
    }
    return true;
}

std::optional<QByteArray> MemorySecretStore::read(const QString& service, const QString& account)
{
    const QMutexLocker lock(&m_mutex);
    if (m_failing)
        return std::nullopt;
    const auto it = m_items.constFind(itemKey(service, account));
    if (it == m_items.constEnd())
        return std::nullopt;
    return *it;
}

bool MemorySecretStore::write(
    const QString& service, const QString& account, const QByteArray& secret, const QString&, QString* error)
{
    const QMutexLocker lock(&m_mutex);
    if (m_failing) {
        if (error)
            *error = QStringLiteral("secret store unavailable");
        return false;
    }
    m_items.insert(itemKey(service, account), secret);
    return true;
}

bool MemorySecretStore::remove(const QString& service, const QString& account, QString* error)
{
    const QMutexLocker lock(&m_mutex);
    if (m_failing) {
        if (error)
            *error = QStringLiteral("secret store unavailable");
        return false;
    }
    m_items.remove(itemKey(service, account));
    return true;
}

void MemorySecretStore::setFailing(bool failing)
{
    const QMutexLocker lock(&m_mutex);
    m_failing = failing;
}

int MemorySecretStore::count() const
{
    const QMutexLocker lock(&m_mutex);
    return static_cast<int>(m_items.size());
}
