#include "gui/tasks/Plate.h"

#include "core/design/DS.h"

#include <QPainter>
#include <QPainterPath>

Plate::Plate(QWidget* parent)
    : QWidget(parent)
{
}

void Plate::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 12, 12);
    p.fillPath(shape, DS::muted(0.05));
}
