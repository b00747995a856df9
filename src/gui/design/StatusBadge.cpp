#include "gui/design/StatusBadge.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "gui/design/DSText.h"
#include "gui/design/Marker.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

StatusBadge::StatusBadge(const QString& text, const QColor& tint, const QString& stable, bool hasReading,
    const std::optional<QString>& identifier, QWidget* parent)
    : StatusBadge(StatusBadgeLook { text, tint, stable, hasReading }, identifier, parent)
{
}

StatusBadge::StatusBadge(RuntimeUsability runtime, const std::optional<QString>& identifier, QWidget* parent)
    : StatusBadge(StatusBadgeLook::forRuntime(runtime), identifier, parent)
{
}

StatusBadge::StatusBadge(const StatusBadgeLook& look, const std::optional<QString>& identifier, QWidget* parent)
    : QWidget(parent)
{
    QFont wordFont = DSFont::monoBold(10);
    wordFont.setLetterSpacing(QFont::AbsoluteSpacing, 0.8);
    m_word = DSText::label(QString(), wordFont, look.tint, this);
    m_word->setObjectName(identifier.value_or(QString()));

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(kDot + kGap, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(m_word, 0, Qt::AlignVCenter);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    m_marker = new Marker(QString(), QString(), this);
    m_look = look;
    applyLook();
}

void StatusBadge::setLook(const StatusBadgeLook& look)
{
    // The same look again changes nothing: no repaint of the row around it.
    if (look == m_look)
        return;
    m_look = look;
    applyLook();
}

void StatusBadge::applyLook()
{
    const StatusBadgeLook& look = m_look;
    m_word->setText(look.text);
    m_word->setAccessibleName(look.text);
    DSText::setColour(m_word, look.tint);
    m_marker->setObjectName(QStringLiteral("status.") + look.stable);
    update();
}

void StatusBadge::resizeEvent(QResizeEvent*)
{
    m_marker->move((width() - 1) / 2, (height() - 1) / 2);
    m_marker->raise();
}

void StatusBadge::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF dot(0, (height() - kDot) / 2.0, kDot, kDot);
    if (m_look.hasReading) {
        p.setPen(Qt::NoPen);
        p.setBrush(m_look.tint);
        p.drawEllipse(dot);
    } else {
        // A hollow ring of the same size: the stroke lies inside the circle.
        constexpr qreal w = 1.4;
        p.setPen(QPen(DS::at(m_look.tint, 0.8), w));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(dot.adjusted(w / 2, w / 2, -w / 2, -w / 2));
    }
}
