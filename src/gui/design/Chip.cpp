#include "gui/design/Chip.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "gui/design/Style.h"

#include <QPainter>

#include <cmath>

namespace {
constexpr qreal kPadH = 7;
constexpr qreal kPadV = 2.5;
constexpr qreal kRadius = 7;
} // namespace

Chip::Chip(const QString& text, const QColor& tint, const std::optional<QString>& verbatimText,
    const std::optional<QString>& identifier, QWidget* parent)
    : QWidget(parent)
    , m_tint(tint)
{
    setObjectName(identifier.value_or(QString()));
    setFont(DSFont::semiBold(10.5));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setText(text, verbatimText);
}

void Chip::setTint(const QColor& tint)
{
    if (tint == m_tint)
        return;
    m_tint = tint;
    update();
}

void Chip::setText(const QString& text, const std::optional<QString>& verbatimText)
{
    const QString shown = verbatimText.value_or(text);
    if (shown == m_shown)
        return;
    m_shown = shown;
    setAccessibleName(m_shown);
    updateToolTip();
    updateGeometry();
    update();
}

void Chip::setShrinkable()
{
    m_shrinkable = true;
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    updateGeometry();
}

Chip* Chip::skill(const QString& label, QWidget* parent)
{
    auto* chip = new Chip(QString(), DS::muted(0.5), label, std::nullopt, parent);
    chip->setShrinkable();
    return chip;
}

QString Chip::drawnText() const
{
    const qreal room = width() - 2 * kPadH;
    return QFontMetricsF(font()).elidedText(m_shown, Qt::ElideRight, room);
}

QSize Chip::minimumSizeHint() const
{
    if (!m_shrinkable)
        return sizeHint();
    // Its first character and the ellipsis.
    const QFontMetricsF fm(font());
    const qreal least = fm.horizontalAdvance(m_shown.left(1) + QStringLiteral("…")) + 2 * kPadH;
    return { qMin(sizeHint().width(), int(std::ceil(least))), sizeHint().height() };
}

void Chip::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    updateToolTip();
}

void Chip::updateToolTip()
{
    if (m_shrinkable)
        setToolTip(drawnText() == m_shown ? QString() : m_shown);
}

QSize Chip::sizeHint() const
{
    const QFontMetricsF fm(font());
    return { int(std::ceil(fm.horizontalAdvance(m_shown) + 2 * kPadH)), int(std::ceil(fm.height() + 2 * kPadV)) };
}

void Chip::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    Style::paintPlate(p, QRectF(rect()), kRadius, DS::at(m_tint, 0.12));
    p.setPen(m_tint);
    p.setFont(font());
    p.drawText(QRectF(rect()).adjusted(kPadH, 0, -kPadH, 0), Qt::AlignLeft | Qt::AlignVCenter, drawnText());
}
