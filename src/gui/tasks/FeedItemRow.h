#pragma once

#include "core/gateway/Records.h"
#include "core/tasks/PermActionState.h"

#include <QWidget>

class ActionFeedbackLine;
class QAbstractButton;
class QHBoxLayout;
class QLabel;

// One feed item in a sheet: its headline, subtitle, origin device, action
// buttons and the feedback of the last action, on a rounded tinted plate.
// Identifiers: prefix + ".row." + id, and the headline's + ".text".
class FeedItemRow : public QWidget {
    Q_OBJECT
public:
    FeedItemRow(const QString& prefix, const QString& id, QWidget* parent = nullptr);

    // Shows the item's latest fields; the origin line only when `showOrigin`.
    void setItem(const FeedApprovalItem& item, bool showOrigin, const QColor& subtitleColour);
    void addButton(QAbstractButton* button);
    // Busy: the primary button shows its busy state, the others take no presses.
    void setBusy(bool busy);
    // The feedback line, and whether the buttons are busy.
    void setAction(const PermActionState& state, bool busy);

    const QList<QAbstractButton*>& buttons() const { return m_buttonList; }
    QLabel* originLabel() const { return m_origin; }
    ActionFeedbackLine* feedback() const { return m_feedback; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* m_headline;
    QLabel* m_subtitle;
    QLabel* m_origin;
    QHBoxLayout* m_buttons;
    QList<QAbstractButton*> m_buttonList;
    ActionFeedbackLine* m_feedback;
};
