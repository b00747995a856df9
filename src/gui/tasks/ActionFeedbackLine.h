#pragma once

#include "core/tasks/PermActionState.h"

#include <QWidget>

class BusyIndicator;
class Icon;
class QLabel;

// The one line of feedback under an item's buttons: a spinner and the working
// text, "✅ " and the done text (with its time of day when asked), or "❌ " and
// the failure text wrapped to its full height. Hidden while idle. The two marks
// are drawn as the icon set's check and cross, since the desktop may have no
// emoji font; text() and the accessible name keep the marks.
class ActionFeedbackLine : public QWidget {
    Q_OBJECT
public:
    // `pointSize` of the texts; `showTime` appends " · HH:mm:ss" to a success.
    explicit ActionFeedbackLine(qreal pointSize, bool showTime = false, QWidget* parent = nullptr);

    void setState(const PermActionState& state);
    // Aligns the text to the trailing edge, line by line (for a line that ends a row).
    void setTrailing();
    // The shown text ("" while idle).
    QString text() const;

private:
    bool m_showTime;
    BusyIndicator* m_spinner;
    Icon* m_mark;
    QString m_text;
    QLabel* m_label;
};
