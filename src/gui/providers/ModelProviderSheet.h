#pragma once

#include "core/providers/ProviderSheetModel.h"
#include "gui/design/Sheet.h"

#include <QCoroTask>
#include <QUuid>

#include <functional>
#include <optional>

class LazyRows;
class PrimaryButton;
class QComboBox;
class QLabel;
class QLineEdit;

// The model-provider accounts of one runtime: which one it launches with (or
// its own login), a form for a new account whose key goes to the system's
// secret store, and a check, a binding and a delete for each account.
// Window-modal; `done` is called once when it closes (with a save under way,
// once the save has ended), with the last change it made as a message (none
// when nothing changed) and whether it tells of a failure. A new account typed in and
// not saved is not dropped without asking: "完成" and Escape ask first.
class ModelProviderSheet : public Sheet {
    Q_OBJECT
public:
    using Done = std::function<void(const std::optional<QString>& message, bool problem)>;

    ModelProviderSheet(const QString& runtimeKind, const QString& runtimeDisplay, const RuntimeSetupInfo& setup,
        const QList<ProviderProfile>& allProfiles, const std::optional<QUuid>& boundProfileID, Done done,
        QWidget* parent = nullptr);

    ProviderSheetModel* model() const { return m_model; }
    // The accounts' column: a row is made as it comes into view.
    LazyRows* rows() const { return m_rows; }

    // Escape and the window's close: asks first when a new account is typed in.
    void reject() override;

private:
    void refresh();
    QWidget* profileRow(const QUuid& id);
    void updateRow(QWidget* row, const ProviderProfile& profile);
    ProviderSheetModel::Draft draft() const;
    // Something is typed into the new-account form.
    bool hasDraft() const;
    // Closes (accepted or not), once the user agrees to drop what is typed.
    QCoro::Task<> finish(bool accepted);
    // Tells the caller what changed, now or, with a save under way, once it ends.
    void handOver(Done done);
    QCoro::Task<> save();
    QCoro::Task<> askRemove(QUuid id);

    ProviderSheetModel* m_model;
    Done m_done;
    QWidget* m_ownLogin;
    LazyRows* m_rows;
    // The accounts listed, by their rows' keys.
    QHash<QString, ProviderProfile> m_profiles;
    QComboBox* m_provider;
    QLineEdit* m_name;
    QLineEdit* m_baseURL;
    QLineEdit* m_defaultModel;
    QLineEdit* m_key;
    PrimaryButton* m_save;
    QLabel* m_formFeedback;
    bool m_asking = false;
    // Closing was asked for while the account was being saved: done once the save ends
    // (true: accepted), asking then only if the save did not keep it; or, when the
    // save takes too long, closed without asking.
    std::optional<bool> m_finishAfterSave;
};
