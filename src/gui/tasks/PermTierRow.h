#pragma once

#include "core/gateway/Records.h"
#include "core/tasks/PermActionState.h"
#include "core/tasks/PermPresentation.h"

#include <QWidget>

#include <optional>

class ActionFeedbackLine;
class Chip;
class FaceButton;
class Icon;
class ProseLabel;
class QHBoxLayout;
class QLabel;

// One permission tier: its state icon, title, detail, the warning that local
// runtimes cannot enforce it, what its state means, the state word, and under
// them the tier's buttons and the feedback line. Identifier "perm.row." + key;
// the buttons carry none.
class PermTierRow : public QWidget {
    Q_OBJECT
public:
    explicit PermTierRow(const QString& key, QWidget* parent = nullptr);

    struct Content {
        PermRow row;
        // The tier's automatic confirmation failed (it then waits for the user).
        bool autoFailed = false;
        std::optional<QString> unenforceable;
        PermPresentation::PermButtons buttons;
        bool busy = false;
        PermActionState feedback;

        bool operator==(const Content&) const = default;
    };
    void setContent(const Content& content);

    QList<FaceButton*> buttons() const { return m_buttonList; }
    // The button with that title; null when the tier offers none.
    FaceButton* button(const QString& title) const;
    ActionFeedbackLine* feedback() const { return m_feedback; }
    QLabel* stateWord() const { return m_word; }

signals:
    void actionRequested(const PermRow& row, PermPresentation::PermButton::Action action);

private:
    void setButtons(const PermPresentation::PermButtons& buttons);

    // What the row shows now: the same content again (every reload brings it) changes nothing.
    std::optional<Content> m_shown;
    PermRow m_row;
    Icon* m_icon;
    QLabel* m_title;
    Chip* m_risk = nullptr;
    ProseLabel* m_detail;
    ProseLabel* m_unenforceable;
    ProseLabel* m_explain;
    QLabel* m_word;
    QLabel* m_autoNote;
    QHBoxLayout* m_buttonRow;
    std::optional<PermPresentation::PermButtons> m_shownButtons;
    QList<FaceButton*> m_buttonList;
    ActionFeedbackLine* m_feedback;
};
