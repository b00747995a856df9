#include "gui/workforce/NodeGlyph.h"

#include "core/platform/ReduceMotion.h"
#include "core/workforce/CollabLayout.h"
#include "gui/design/Icon.h"
#include "gui/design/OnScreenAnimation.h"

#include <QPainter>
#include <QVariantAnimation>

namespace {

// 0 → 1 → 0 over one period, easing in and out each way.
qreal fadeOutAndBack(qreal progress)
{
    const qreal half = progress < 0.5 ? 2 * progress : 2 - 2 * progress;
    return half < 0.5 ? 2 * half * half : 1 - 2 * (1 - half) * (1 - half);
}

} // namespace

NodeGlyph::NodeGlyph(TolvarineStatus status, bool hasReading, QWidget* parent)
    : QWidget(parent)
    , m_status(status)
    , m_hasReading(hasReading)
{
    setFixedSize(12, 12);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    // Decorative: the row's identifier carries the status.
    setAccessibleName(QString());
}

void NodeGlyph::setStatus(TolvarineStatus status, bool hasReading)
{
    if (status == m_status && hasReading == m_hasReading)
        return;
    m_status = status;
    m_hasReading = hasReading;
    if (m_status == TolvarineStatus::running && isVisible())
        startBreathing();
    else if (m_status != TolvarineStatus::running && m_pulse)
        m_pulse->stop();
    update();
}

void NodeGlyph::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_status == TolvarineStatus::running)
        startBreathing();
}

void NodeGlyph::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    // Nothing to see: no frames until it is back.
    if (m_pulse)
        m_pulse->pause();
}

void NodeGlyph::startBreathing()
{
    if (ReduceMotion::enabled())
        return;
    if (m_pulse) {
        if (m_pulse->state() == QAbstractAnimation::Paused)
            m_pulse->resume();
        else if (m_pulse->state() == QAbstractAnimation::Stopped)
            m_pulse->start();
        return;
    }
    m_breathing = true;
    m_pulse = new QVariantAnimation(this);
    // One period fades out to 0.45 and back in, so that each loop starts
    // where the last one ended.
    m_pulse->setStartValue(1.0);
    m_pulse->setEndValue(0.45);
    m_pulse->setDuration(2 * 950);
    QEasingCurve outAndBack;
    outAndBack.setCustomType(&fadeOutAndBack);
    m_pulse->setEasingCurve(outAndBack);
    m_pulse->setLoopCount(-1);
    connect(m_pulse, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        m_opacity = v.toReal();
        if (m_status == TolvarineStatus::running && OnScreenAnimation::frame(this, m_pulse))
            update();
    });
    m_pulse->start();
}

void NodeGlyph::paintEvent(QPaintEvent*)
{
    OnScreenAnimation::painted(m_pulse);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor tint = TolvarineStatuses::tint(m_status);
    const QRectF dot(1.5, 1.5, 9, 9);
    if (const std::optional<QString> symbol = CollabLayout::glyphSymbol(m_status)) {
        const QPixmap pm = Icon::pixmap(*symbol, 12, tint, devicePixelRatioF());
        p.drawPixmap(QPointF(0, 0), pm);
        return;
    }
    if (m_status == TolvarineStatus::running) {
        p.setOpacity(m_breathing ? m_opacity : 1.0);
        p.setPen(Qt::NoPen);
        p.setBrush(tint);
        p.drawEllipse(dot);
        return;
    }
    if (m_hasReading) {
        p.setPen(Qt::NoPen);
        p.setBrush(tint);
        p.drawEllipse(dot);
    } else {
        // A ring of 1.4 drawn inside the circle.
        QColor ring = tint;
        ring.setAlphaF(ring.alphaF() * 0.8);
        p.setPen(QPen(ring, 1.4));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(dot.adjusted(0.7, 0.7, -0.7, -0.7));
    }
}
