#include "gui/design/Card.h"

#include "core/design/CardStyle.h"
#include "gui/design/Style.h"

#include <QPainter>
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
    if (tint == m_tint)
        return;
    m_tint = tint;
    update();
}

void Card::setEmphasized(bool emphasized)
{
    if (emphasized == m_emphasized)
        return;
    m_emphasized = emphasized;
    update();
}

void Card::paintEvent(QPaintEvent*)
{
    const CardStyle::Colors c = CardStyle::colors(m_tint, m_emphasized);
    QPainter p(this);
    Style::paintPlate(p, QRectF(rect()), CardStyle::kRadius, c.fill, c.stroke);
}
