#include "gui/design/Card.h"

#include "core/design/CardStyle.h"

#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

Card::Card(QWidget* parent)
    : Card(std::nullopt, false, parent)
{
}

Card::Card(std::optional<QColor> tint, bool emphasized, QWidget* parent)
    : QWidget(parent)
    , m_layout(new QVBoxLayout(this))
    , m_tint(tint)
    , m_emphasized(emphasized)
{
    const int pad = int(CardStyle::kPadding);
    m_layout->setContentsMargins(pad, pad, pad, pad);
    m_layout->setSpacing(0);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void Card::setTint(std::optional<QColor> tint)
{
    m_tint = tint;
    update();
}

void Card::setEmphasized(bool emphasized)
{
    m_emphasized = emphasized;
    update();
}

void Card::paintEvent(QPaintEvent*)
{
    const CardStyle::Colors c = CardStyle::colors(m_tint, m_emphasized);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = rect();
    QPainterPath fill;
    fill.addRoundedRect(r, CardStyle::kRadius, CardStyle::kRadius);
    p.fillPath(fill, c.fill);
    // The border lies inside the shape: inset by half its width.
    QPen pen(c.stroke, 1.0);
    pen.setJoinStyle(Qt::MiterJoin);
    pen.setCapStyle(Qt::FlatCap);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), CardStyle::kRadius - 0.5, CardStyle::kRadius - 0.5);
}
