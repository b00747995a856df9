#include "core/platform/SecretStore.h"

#include "core/platform/SerialExecutor.h"

// libsecret pulls in GLib, whose headers use "signals" as an identifier.
#undef signals
#include <libsecret/secret.h>
#define signals Q_SIGNALS

#include "core/platform/LateLibrary.h"

namespace {

// libsecret and the GIO stack under it are opened the first time a key is
// touched (on a pool thread), not when the application starts.
struct Libsecret {
    using Lookup = gchar* (*)(const SecretSchema*, GCancellable*, GError**, ...);
    using Store
        = gboolean (*)(const SecretSchema*, const gchar*, const gchar*, const gchar*, GCancellable*, GError**, ...);
    using Clear = gboolean (*)(const SecretSchema*, GCancellable*, GError**, ...);
    using Free = void (*)(gchar*);
    using ErrorFree = void (*)(GError*);

    Lookup lookup = nullptr;
    Store store = nullptr;
    Clear clear = nullptr;
    Free passwordFree = nullptr;
    ErrorFree errorFree = nullptr;
};

// Null when the library or one of its functions cannot be found.
const Libsecret* libsecret()
{
    static const Libsecret lib = [] {
        LateLibrary library("libsecret-1.so.0");
        Libsecret l;
        l.lookup = library.resolve<Libsecret::Lookup>("secret_password_lookup_sync");
        l.store = library.resolve<Libsecret::Store>("secret_password_store_sync");
        l.clear = library.resolve<Libsecret::Clear>("secret_password_clear_sync");
        l.passwordFree = library.resolve<Libsecret::Free>("secret_password_free");
        l.errorFree = library.resolve<Libsecret::ErrorFree>("g_error_free");
        return l;
    }();
    return lib.lookup && lib.store && lib.clear && lib.passwordFree && lib.errorFree ? &lib : nullptr;
}

const QString kNoLibrary = QStringLiteral("这台电脑上没有 libsecret（系统密码库的接口），装上 libsecret-1-0 再试");

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

QString takeError(const Libsecret& lib, GError* err)
{
    const QString text = err ? QString::fromUtf8(err->message) : QStringLiteral("unknown error");
    if (err)
        lib.errorFree(err);
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

SerialExecutor& SecretStore::queue()
{
    static SerialExecutor* const q = new SerialExecutor;
    return *q;
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
    const Libsecret* lib = libsecret();
    if (!lib)
        return std::nullopt;
    GError* err = nullptr;
    gchar* secret = lib->lookup(schema(), nullptr, &err, "service", s.constData(), "account", a.constData(), nullptr);
    if (err) {
        lib->errorFree(err);
        return std::nullopt;
    }
    if (!secret)
        return std::nullopt;
    QByteArray out(secret);
    lib->passwordFree(secret);
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
    const Libsecret* lib = libsecret();
    if (!lib) {
        if (error)
            *error = kNoLibrary;
        return false;
    }
    const gboolean ok = lib->store(schema(), SECRET_COLLECTION_DEFAULT, l.constData(), secret.constData(), nullptr,
        &err, "service", s.constData(), "account", a.constData(), nullptr);
    if (!ok || err) {
        const QString text = takeError(*lib, err);
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
    const Libsecret* lib = libsecret();
    if (!lib) {
        if (error)
            *error = kNoLibrary;
        return false;
    }
    GError* err = nullptr;
    lib->clear(schema(), nullptr, &err, "service", s.constData(), "account", a.constData(), nullptr);
    if (err) {
        const QString text = takeError(*lib, err);
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
