#include "gui/workforce/FanInConnector.h"

#include "core/design/DS.h"

#include <QPainter>
#include <QPainterPath>

FanInConnector::FanInConnector(int count, bool dashed, QWidget* parent)
    : QWidget(parent)
    , m_count(count)
    , m_dashed(dashed)
{
    setFixedWidth(34);
    setMinimumHeight(34);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void FanInConnector::setShape(int count, bool dashed)
{
    if (count == m_count && dashed == m_dashed)
        return;
    m_count = count;
    m_dashed = dashed;
    update();
}

void FanInConnector::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal w = width();
    const qreal h = height();
    QPainterPath path;
    if (m_count >= 2) {
        path.moveTo(6, 0.18 * h);
        path.lineTo(6, 0.82 * h);
    }
    path.moveTo(6, 0.5 * h);
    path.lineTo(w - 7, 0.5 * h);
    QPen pen(DS::muted(0.35), 1.4, Qt::SolidLine, Qt::RoundCap, Qt::MiterJoin);
    pen.setMiterLimit(10);
    if (m_dashed) {
        // The pattern is in line widths: 3 points on, 3 off.
        pen.setDashPattern({ 3 / 1.4, 3 / 1.4 });
        pen.setDashOffset(0);
    }
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);

    QPainterPath head;
    head.moveTo(w - 7, 0.5 * h);
    head.lineTo(w - 12, 0.5 * h - 4);
    head.lineTo(w - 12, 0.5 * h + 4);
    head.closeSubpath();
    p.fillPath(head, DS::muted(0.45));
}
