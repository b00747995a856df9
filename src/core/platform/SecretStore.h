#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QString>

#include <memory>
#include <optional>

// Generic secret items keyed by service and account. The application's one
// store is reached through SecretStore::shared(); tests swap in the in-memory one.
class SerialExecutor;

class SecretStore {
public:
    virtual ~SecretStore() = default;

    // The secret, or none when there is no such item or the store cannot be read.
    virtual std::optional<QByteArray> read(const QString& service, const QString& account) = 0;
    // Adds the item or replaces its secret.
    virtual bool write(const QString& service, const QString& account, const QByteArray& secret, const QString& label,
        QString* error = nullptr)
        = 0;
    // True when the item is gone afterwards (also when there was none).
    virtual bool remove(const QString& service, const QString& account, QString* error = nullptr) = 0;

    bool contains(const QString& service, const QString& account) { return read(service, account).has_value(); }

    // The process-wide store: the Secret Service unless replaced. Shared, so
    // that a call under way on a pool thread keeps the store it began with
    // when a test replaces it.
    static std::shared_ptr<SecretStore> shared();
    // Replaces the process-wide store (tests); null restores the Secret Service.
    static void setShared(std::unique_ptr<SecretStore> store);
    // The one queue the application's calls into the store go through: off
    // the GUI thread (a call may wait on a prompt or a stalled daemon), one at
    // a time and in the order asked, so that a key written from a sheet never
    // interleaves with a migration of the older keys.
    static SerialExecutor& queue();
};

// The desktop's Secret Service (gnome-keyring, KWallet) over libsecret.
class LibsecretStore final : public SecretStore {
public:
    std::optional<QByteArray> read(const QString& service, const QString& account) override;
    bool write(const QString& service, const QString& account, const QByteArray& secret, const QString& label,
        QString* error = nullptr) override;
    bool remove(const QString& service, const QString& account, QString* error = nullptr) override;
};

// Items held in memory, for unit tests.
class MemorySecretStore final : public SecretStore {
public:
    std::optional<QByteArray> read(const QString& service, const QString& account) override;
    bool write(const QString& service, const QString& account, const QByteArray& secret, const QString& label,
        QString* error = nullptr) override;
    bool remove(const QString& service, const QString& account, QString* error = nullptr) override;

    // Makes every call fail, to test callers' failure paths.
    void setFailing(bool failing);
    int count() const;

private:
    mutable QMutex m_mutex;
    QHash<QString, QByteArray> m_items;
    bool m_failing = false;
};
