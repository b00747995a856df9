#include "gui/design/BusyIndicator.h"

#include "core/design/DS.h"
#include "gui/design/OnScreenAnimation.h"

#include <QPainter>
#include <QVariantAnimation>

BusyIndicator::BusyIndicator(const QColor& tint, int edge, QWidget* parent)
    : QWidget(parent)
    , m_tint(tint)
    , m_spin(new QVariantAnimation(this))
{
    setFixedSize(edge, edge);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAccessibleName(QString());
    m_spin->setStartValue(0.0);
    m_spin->setEndValue(360.0);
    m_spin->setDuration(900);
    m_spin->setLoopCount(-1);
    connect(m_spin, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        m_angle = v.toReal();
        if (OnScreenAnimation::frame(this, m_spin))
            update();
    });
}

bool BusyIndicator::isSpinning() const
{
    return m_spin->state() == QAbstractAnimation::Running;
}

void BusyIndicator::showEvent(QShowEvent*)
{
    m_spin->start();
}

void BusyIndicator::hideEvent(QHideEvent*)
{
    m_spin->stop();
}

void BusyIndicator::paintEvent(QPaintEvent*)
{
    OnScreenAnimation::painted(m_spin);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal w = qMax(1.5, width() / 8.0);
    const QRectF r = QRectF(rect()).adjusted(w, w, -w, -w);
    p.setPen(QPen(DS::at(m_tint, 0.25), w));
    p.drawEllipse(r);
    QPen arc(m_tint, w);
    arc.setCapStyle(Qt::RoundCap);
    p.setPen(arc);
    p.drawArc(r, int(-m_angle * 16), 100 * 16);
}
