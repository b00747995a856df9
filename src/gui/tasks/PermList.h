#pragma once

#include "core/gateway/Records.h"
#include "core/runtimes/RuntimeRow.h"
#include "core/tasks/PermPresentation.h"
#include "gui/design/DiagRow.h"
#include "gui/design/KeyedReconciler.h"
#include "gui/tasks/PermTierRow.h"

#include <QDateTime>
#include <QHash>
#include <QMap>
#include <QWidget>

#include <functional>
#include <optional>

class AimGuard;
class Disclosure;
class EmptyState;
class ErrorBanner;
class ProseLabel;
class QVBoxLayout;

// The workspace's six permission tiers: an error banner when they could not
// be read, else an introduction, one row per tier (kept by key, so a row and
// its feedback survive every reload) and the folded rules with what the
// followed command's progress shows of each tier; an empty state when there
// are no tiers.
class PermList : public QWidget {
    Q_OBJECT
public:
    explicit PermList(QWidget* parent = nullptr);

    struct Content {
        QList<PermRow> perms;
        std::optional<QString> permsError;
        QMap<QString, QDateTime> autoConfirmed;
        QMap<QString, QString> autoFailed;
        QHash<QString, PermUse> usage;
        QList<RuntimeRow> runtimes; // the plain local runtime rows
        std::function<PermActionState(const QString&)> action;
        // Acted on and not reloaded yet: its buttons take no press.
        std::function<bool(const QString&)> busy;
    };
    void setContent(const Content& content);

    PermTierRow* row(const QString& key) const { return m_rows.find(key); }
    Disclosure* rules() const { return m_rules; }

signals:
    void actionRequested(const PermRow& row, PermPresentation::PermButton::Action action);

private:
    ErrorBanner* m_error;
    ProseLabel* m_intro;
    QWidget* m_rowsBox;
    QVBoxLayout* m_rowsLayout;
    KeyedReconciler<QString, PermTierRow> m_rows;
    // A tier's button that a new list turned into another ("收回" into "授权")
    // under the pointer takes no press aimed at the one that was there.
    AimGuard* m_aim;
    Disclosure* m_rules;
    QVBoxLayout* m_usageLayout;
    KeyedReconciler<QString, DiagRow> m_usage;
    EmptyState* m_empty;
};
