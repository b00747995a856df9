#pragma once

#include "core/tasks/PermActionState.h"
#include "gui/design/OutcomeLine.h"

// The one line of feedback under an item's buttons, drawn from the item's
// PermActionState: a spinner and the working text, "✅ " and the done text
// (with its time of day when asked), or "❌ " and the failure text.
class ActionFeedbackLine : public OutcomeLine {
    Q_OBJECT
public:
    // `pointSize` of the texts; `showTime` appends " · HH:mm:ss" to a success.
    explicit ActionFeedbackLine(qreal pointSize, bool showTime = false, QWidget* parent = nullptr);

    void setState(const PermActionState& state);

private:
    bool m_showTime;
};
