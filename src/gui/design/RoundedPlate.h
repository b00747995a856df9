#pragma once

#include <QColor>
#include <QWidget>

// A widget that paints a rounded plate behind its children: one fill and an
// optional 1-point border inside its edge (Style::paintPlate). Plain, it is
// the quiet plate behind a block of a section: ink2 at 0.05, radius 12, no
// border; its users pad the content themselves.
class RoundedPlate : public QWidget {
    Q_OBJECT
public:
    explicit RoundedPlate(QWidget* parent = nullptr);
    RoundedPlate(const QColor& fill, qreal radius, const QColor& stroke, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_fill;
    qreal m_radius;
    QColor m_stroke;
};
