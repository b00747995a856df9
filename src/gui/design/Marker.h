#pragma once

#include <QWidget>

// An invisible 1 × 1 widget that carries an accessibility identifier (its
// object name) and a label (its accessible name) for automation to read.
class Marker : public QWidget {
    Q_OBJECT
public:
    Marker(const QString& identifier, const QString& label = QString(), QWidget* parent = nullptr);

    void setLabel(const QString& label) { setAccessibleName(label); }
    QString label() const { return accessibleName(); }
};
