#include "gui/design/RoundedPlate.h"

#include "core/design/DS.h"
#include "gui/design/Style.h"

#include <QPainter>

RoundedPlate::RoundedPlate(QWidget* parent)
    : RoundedPlate(DS::muted(0.05), 12, QColor(), parent)
{
}

RoundedPlate::RoundedPlate(const QColor& fill, qreal radius, const QColor& stroke, QWidget* parent)
    : QWidget(parent)
    , m_fill(fill)
    , m_radius(radius)
    , m_stroke(stroke)
{
}

void RoundedPlate::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    Style::paintPlate(p, QRectF(rect()), m_radius, m_fill, m_stroke);
}
