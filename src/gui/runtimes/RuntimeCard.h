#pragma once

#include "core/runtimes/RuntimeCardState.h"
#include "gui/design/Card.h"

#include <QCoroTask>
#include <QPointer>
#include <QString>

class AimGuard;
class Chip;
class Disclosure;
class ElidedLabel;
class FlowLayout;
class ModelProviderSheet;
class OutcomeLine;
class QHBoxLayout;
class QLabel;
class QVBoxLayout;
class RuntimeSectionModel;
class StatusBadge;

// One local runtime in the runtime section: whether it is installed, usable,
// enabled and running, which model account it uses, what work it serves, its
// buttons, and its diagnostics. Drawn from a RuntimeCardState; its actions go
// through the section's model. The open diagnostics fold survives updates.
class RuntimeCard : public Card {
    Q_OBJECT
public:
    RuntimeCard(RuntimeSectionModel* model, const QString& kind, QWidget* parent = nullptr);

    // Redraws the parts that changed; nothing when the state is the same.
    void setState(const RuntimeCardState& state);
    const RuntimeCardState& state() const { return m_state; }

    Disclosure* diagnostics() const { return m_diagnostics; }
    // What the card's last action came to, under its buttons.
    OutcomeLine* outcome() const { return m_outcome; }
    // The provider sheet while it is open.
    ModelProviderSheet* providerSheet() const;

private:
    void showHeader();
    void showModelLine();
    void showServing();
    void showActions();
    void showDiagnostics();
    void openProviderSheet();
    QCoro::Task<> askUninstall();
    void copyDiagnostics();

    // Outlives the card (the window's controller owns it).
    RuntimeSectionModel* m_model;
    QString m_kind;
    RuntimeCardState m_state;
    bool m_drawn = false;

    ElidedLabel* m_title;
    Chip* m_disabledChip;
    StatusBadge* m_badge;
    ElidedLabel* m_version;
    QLabel* m_sentence;
    QWidget* m_modelLine;
    QWidget* m_serving;
    QWidget* m_actions;
    FlowLayout* m_actionsRow;
    OutcomeLine* m_outcome;
    AimGuard* m_aim;
    Disclosure* m_diagnostics;
    QVBoxLayout* m_diagRows;
    QPointer<ModelProviderSheet> m_sheet;
};
