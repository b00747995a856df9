#pragma once

#include "core/providers/ProviderProfile.h"
#include "core/providers/ProviderSlot.h"
#include "core/providers/RuntimeSetupInfo.h"

#include <QCoroTask>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

#include <optional>

// The model-provider sheet of one runtime kind without its widgets: the
// profiles of the providers the runtime takes, which one it is bound to, and
// creating, checking, binding and deleting them. Keys go to the secret store
// through its queue and are never kept here; the profiles and bindings files
// are changed on their own queues.
class ProviderSheetModel : public QObject {
    Q_OBJECT
public:
    struct Draft {
        QString provider;
        QString name;
        QString baseURL;
        QString defaultModel;
        QString key;
    };

    // The last word on one profile, or on the new-profile form.
    struct Feedback {
        enum class Kind { Idle, Working, Ok, Failed };
        Kind kind = Kind::Idle;
        QString text;
        bool operator==(const Feedback&) const = default;
    };

    ProviderSheetModel(QString runtimeKind, QString runtimeDisplay, RuntimeSetupInfo setup,
        QList<ProviderProfile> allProfiles, std::optional<QUuid> boundProfileID, QObject* parent = nullptr);
    // Aborts a check still under way.
    ~ProviderSheetModel() override;

    // The providers the runtime takes, in the contract's order.
    QList<ProviderSlot> providerSlots() const { return m_setup.providerSlots; }
    // The profiles of those providers, in the order given.
    QList<ProviderProfile> profiles() const;
    std::optional<QUuid> boundProfileID() const { return m_bound; }
    // Whether the secret store holds the profile's key; none until it has
    // answered. A record whose key never got stored (a crash in between) is
    // no account to launch with.
    std::optional<bool> hasKey(const QUuid& profile) const;
    Feedback feedback(const QUuid& profile) const { return m_feedback.value(profile); }
    Feedback formFeedback() const { return m_form; }
    // What the sheet hands back when it closes: the last change it made,
    // and whether that message tells of something that failed or was left
    // undone (a key the provider refused, a binding not let go).
    std::optional<QString> doneMessage() const { return m_doneMessage; }
    bool doneIsProblem() const { return m_doneIsProblem; }

    // The reason a draft cannot be saved; none when it can.
    std::optional<QString> problem(const Draft& draft) const;
    // The form was edited: the reason a save was refused is taken down once
    // the draft no longer has it. Any other word on the form stays.
    void draftEdited(const Draft& draft);

    // Binds the runtime to a listed profile, or (with none) lets it use its
    // own login; not to a profile known to have no key. False with the
    // reason in the feedback when the bindings file cannot be written.
    QCoro::Task<bool> bind(std::optional<QUuid> profile);
    // Stores the profile and its key; true when both are stored. A key that
    // cannot be stored takes the new record back with it.
    QCoro::Task<bool> create(Draft draft);
    // Asks the provider about the profile's key and records the answer on the profile.
    QCoro::Task<> verify(QUuid profile);
    // Deletes the key, then the record (a record without its key shows as
    // such; a key without its record would be lost to sight), then every
    // runtime's binding to it.
    QCoro::Task<> remove(QUuid profile);

signals:
    void changed();

private:
    std::optional<ProviderProfile> find(const QUuid& id) const;
    QCoro::Task<> lookForKeys();
    void setProfiles(const QList<ProviderProfile>& profiles);
    void setFeedback(const QUuid& id, Feedback::Kind kind, const QString& text);
    void setForm(Feedback::Kind kind, const QString& text);
    void setDone(const QString& text, bool problem = false);
    // The sheet's line says what its last action did (the caller publishes it).
    void sayOnForm();

    QString m_kind;
    QString m_display;
    RuntimeSetupInfo m_setup;
    QList<ProviderProfile> m_all;
    std::optional<QUuid> m_bound;
    QHash<QUuid, bool> m_hasKey;
    QHash<QUuid, Feedback> m_feedback;
    Feedback m_form;
    // m_form is the reason the last save was refused.
    bool m_formIsProblem = false;
    std::optional<QString> m_doneMessage;
    bool m_doneIsProblem = false;
    // Set while the model is being destroyed: a suspended action stops quietly.
    bool m_closing = false;
};
