#pragma once

#include "tasks/PermActionState.h"

#include <QWidget>

class BusyIndicator;
class QLabel;

// The one line of feedback under an item's buttons: a spinner and the working
// text, "✅ " and the done text (with its time of day when asked), or "❌ " and
// the failure text wrapped to its full height. Hidden while idle.
class ActionFeedbackLine : public QWidget {
    Q_OBJECT
public:
    // `pointSize` of the texts; `showTime` appends " · HH:mm:ss" to a success.
    explicit ActionFeedbackLine(qreal pointSize, bool showTime = false, QWidget* parent = nullptr);

    void setState(const PermActionState& state);
    const PermActionState& state() const { return m_state; }
    // The shown text ("" while idle).
    QString text() const;

private:
    PermActionState m_state;
    bool m_showTime;
    BusyIndicator* m_spinner;
    QLabel* m_label;
};
