#include "gui/shell/PresenceChip.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/gateway/GatewayTime.h"
#include "gui/design/Style.h"

#include <QFontMetrics>
#include <QPainter>

#include <cmath>

namespace {
constexpr int kPadX = 10;
constexpr int kPadY = 5;
constexpr int kDot = 8;
constexpr int kGap = 6;
} // namespace

PresenceChip::PresenceChip(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("presence.text"));
    setFont(DSFont::semiBold(11.5));
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    setPresence(AgentPresence::never());
}

QString PresenceChip::presenceText(const AgentPresence& presence)
{
    switch (presence.kind) {
    case AgentPresence::Kind::Online:
        return QStringLiteral("Runtime 在线 · 心跳 ") + GatewayTime::agoSecs(presence.seconds);
    case AgentPresence::Kind::Stale:
        return QStringLiteral("最后一次心跳 ") + GatewayTime::agoSecs(presence.seconds);
    case AgentPresence::Kind::Unknown:
        return QStringLiteral("读不到状态（") + presence.reason + QStringLiteral("）");
    case AgentPresence::Kind::Never:
        break;
    }
    return QStringLiteral("还没有执行体来找过活");
}

QColor PresenceChip::presenceColor(const AgentPresence& presence)
{
    switch (presence.kind) {
    case AgentPresence::Kind::Online:
        return DS::mint();
    case AgentPresence::Kind::Stale:
    case AgentPresence::Kind::Unknown:
        return DS::amber();
    case AgentPresence::Kind::Never:
        break;
    }
    return DS::muted(0.45);
}

void PresenceChip::setPresence(const AgentPresence& presence)
{
    const QString text = presenceText(presence);
    const QColor colour = presenceColor(presence);
    if (text == m_text && colour == m_colour)
        return;
    m_text = text;
    m_colour = colour;
    // The reason can be the gateway's own words; a tool tip would take markup in them as rich text.
    setToolTip(QStringLiteral("<qt>") + text.toHtmlEscaped());
    setAccessibleName(text);
    updateGeometry();
    update();
}

QSize PresenceChip::sizeHint() const
{
    const QFontMetrics fm(font(), this);
    // Fractional advances are rounded up, or the text would be elided by a pixel.
    const int advance = static_cast<int>(std::ceil(QFontMetricsF(font(), this).horizontalAdvance(m_text))) + 1;
    const int textWidth = qMin(advance, kMaxTextWidth);
    return { kPadX + kDot + kGap + textWidth + kPadX, qMax(fm.height(), kDot) + 2 * kPadY };
}

QSize PresenceChip::minimumSizeHint() const
{
    return sizeHint();
}

void PresenceChip::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    Style::paintPlate(p, r, r.height() / 2, DS::at(m_colour, 0.12));

    const qreal cy = height() / 2.0;
    p.setPen(Qt::NoPen);
    p.setBrush(m_colour);
    p.drawEllipse(QRectF(kPadX, cy - kDot / 2.0, kDot, kDot));

    p.setPen(m_colour);
    p.setFont(font());
    const QRect textRect(kPadX + kDot + kGap, 0, width() - (kPadX + kDot + kGap) - kPadX, height());
    p.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
        QFontMetrics(font(), this).elidedText(m_text, Qt::ElideRight, textRect.width()));
}
