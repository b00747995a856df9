#pragma once

#include <QColor>
#include <QWidget>

class QVariantAnimation;

// The small indeterminate spinner: a turning arc, animated while visible.
class BusyIndicator : public QWidget {
    Q_OBJECT
public:
    explicit BusyIndicator(const QColor& tint, int edge = 14, QWidget* parent = nullptr);

    bool isSpinning() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QColor m_tint;
    qreal m_angle = 0;
    QVariantAnimation* m_spin;
};
