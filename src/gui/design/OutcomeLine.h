#pragma once

#include <QWidget>

class BusyIndicator;
class Icon;
class QLabel;

// The one line that says, beside the control that caused it, what an action
// came to: a spinner and the working text, "✅ " and the done text, "❌ "
// and the failure text wrapped to its full height, or a question mark and
// the text of an outcome not known. Hidden while idle. The two
// marks are drawn as the icon set's check and cross, since the desktop may
// have no emoji font; text() and the accessible name keep the marks.
class OutcomeLine : public QWidget {
    Q_OBJECT
public:
    enum class Kind { Idle, Working, Ok, Failed, Unknown };

    // `pointSize` of the texts.
    explicit OutcomeLine(qreal pointSize, QWidget* parent = nullptr);

    void setOutcome(Kind kind, const QString& text);
    // Aligns the text to the trailing edge, line by line (for a line that ends a row).
    void setTrailing();
    Kind kind() const { return m_kind; }
    // The shown text with its mark ("" while idle).
    QString text() const;

private:
    Kind m_kind = Kind::Idle;
    BusyIndicator* m_spinner;
    Icon* m_mark;
    QString m_text;
    QLabel* m_label;
};
