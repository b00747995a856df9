#pragma once

#include <QWidget>

class QLabel;

// One key/value line of a diagnostics listing: the key in a 66-wide column,
// the value wrapping after it. Takes the font of the surrounding view.
class DiagRow : public QWidget {
    Q_OBJECT
public:
    DiagRow(const QString& key, const QString& value, QWidget* parent = nullptr);

    QLabel* keyLabel() const { return m_key; }
    QLabel* valueLabel() const { return m_value; }

    static constexpr int kKeyWidth = 66;

private:
    QLabel* m_key;
    QLabel* m_value;
};
