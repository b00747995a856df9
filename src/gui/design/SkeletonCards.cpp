#include "gui/design/SkeletonCards.h"

#include "core/design/ColumnRule.h"
#include "core/design/DS.h"
#include "core/platform/ReduceMotion.h"
#include "gui/design/OnScreenAnimation.h"
#include "gui/design/Style.h"

#include <QEasingCurve>
#include <QLinearGradient>
#include <QPainter>
#include <QTimer>
#include <QVariantAnimation>

namespace {
constexpr qreal kMinItem = 340;
constexpr qreal kSpacing = 10;
constexpr int kPad = 14;
constexpr int kLineGap = 9;
constexpr int kShimmerMs = 8000;
} // namespace

SkeletonCards::SkeletonCards(int count, QWidget* parent)
    : QWidget(parent)
    , m_count(count)
    , m_reduceMotion(ReduceMotion::enabled())
    , m_sweepAnimation(new QVariantAnimation(this))
    , m_fade(new QVariantAnimation(this))
    , m_stop(new QTimer(this))
{
    setObjectName(QStringLiteral("skeleton.cards"));
    setAccessibleName(QStringLiteral("正在读这台电脑上的 Runtime"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);

    // The band crosses from -0.4 to 1.4 every 1.4 s, from the leading side each time.
    m_sweepAnimation->setStartValue(-0.4);
    m_sweepAnimation->setEndValue(1.4);
    m_sweepAnimation->setDuration(1400);
    m_sweepAnimation->setLoopCount(-1);
    connect(m_sweepAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        m_sweep = v.toReal();
        if (OnScreenAnimation::frame(this, m_sweepAnimation))
            update();
    });

    m_fade->setStartValue(1.0);
    m_fade->setEndValue(0.0);
    m_fade->setDuration(220);
    m_fade->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_fade, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        m_bandOpacity = v.toReal();
        update();
    });
    connect(m_fade, &QVariantAnimation::finished, this, [this] {
        m_shimmering = false;
        m_sweepAnimation->stop();
        update();
    });

    m_stop->setSingleShot(true);
    m_stop->setInterval(kShimmerMs);
    connect(m_stop, &QTimer::timeout, m_fade, [this] { m_fade->start(); });
}

void SkeletonCards::showEvent(QShowEvent*)
{
    // One sweep per skeleton: once it has stopped it does not come back.
    if (m_reduceMotion || m_started)
        return;
    m_started = true;
    m_sweepAnimation->start();
    m_stop->start();
}

int SkeletonCards::columnCount() const
{
    return ColumnRule::columnCount(width(), kMinItem, kSpacing);
}

int SkeletonCards::cardHeight(int seed)
{
    // Title line 12, full bar 10, and on even seeds a 55 % bar of 10; 9 apart.
    const int lines = 12 + kLineGap + 10 + (seed % 2 == 0 ? kLineGap + 10 : 0);
    return kPad + lines + kPad;
}

int SkeletonCards::heightForWidth(int width) const
{
    if (m_count <= 0)
        return 0;
    const int columns = ColumnRule::columnCount(width, kMinItem, kSpacing);
    int total = 0;
    int rows = 0;
    for (int start = 0; start < m_count; start += columns) {
        int h = 0;
        for (int s = start; s < qMin(start + columns, m_count); ++s)
            h = qMax(h, cardHeight(s));
        total += h;
        ++rows;
    }
    return total + (rows - 1) * int(kSpacing);
}

QSize SkeletonCards::sizeHint() const
{
    const int w = width() > 0 ? width() : int(kMinItem);
    return { int(kMinItem), heightForWidth(w) };
}

void SkeletonCards::paintCard(QPainter& p, const QRectF& r, int seed) const
{
    Style::paintPlate(p, r, 12, DS::muted(0.035), DS::line());

    const QColor bar = DS::muted(0.1);
    auto drawBar = [&](qreal x, qreal y, qreal w, qreal h) { Style::paintPlate(p, QRectF(x, y, w, h), h / 2, bar); };
    const QRectF inner = r.adjusted(kPad, kPad, -kPad, -kPad);
    qreal y = inner.top();
    // First line: the title bar and, at the trailing edge, the badge bar.
    drawBar(inner.left(), y, qMin<qreal>(titleBarWidth(seed), inner.width()), 12);
    drawBar(qMax(inner.left(), inner.right() - 44), y + 1, qMin<qreal>(44, inner.width()), 10);
    y += 12 + kLineGap;
    drawBar(inner.left(), y, inner.width(), 10);
    if (seed % 2 == 0) {
        y += 10 + kLineGap;
        drawBar(inner.left(), y, inner.width() * 0.55, 10);
    }
}

void SkeletonCards::paintEvent(QPaintEvent*)
{
    OnScreenAnimation::painted(m_sweepAnimation);
    if (m_count <= 0)
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const int columns = columnCount();
    const qreal cellWidth = qMax<qreal>(0, (width() - (columns - 1) * kSpacing) / columns);
    qreal y = 0;
    for (int start = 0; start < m_count; start += columns) {
        int rowHeight = 0;
        for (int s = start; s < qMin(start + columns, m_count); ++s) {
            const qreal x = (s - start) * (cellWidth + kSpacing);
            paintCard(p, QRectF(x, y, cellWidth, cardHeight(s)), s);
            rowHeight = qMax(rowHeight, cardHeight(s));
        }
        y += rowHeight + kSpacing;
    }

    if (!isShimmering() || m_bandOpacity <= 0)
        return;
    // A soft diagonal band, brightest through (sweep, 0.5), added onto what
    // lies below so that it only brightens.
    const QRectF area = rect();
    QLinearGradient band(area.left() + (m_sweep - 0.35) * area.width(), area.top(),
        area.left() + (m_sweep + 0.35) * area.width(), area.bottom());
    const QColor peak = DS::at(DS::ink(), 0.055 * m_bandOpacity);
    band.setColorAt(0.0, DS::at(DS::ink(), 0));
    band.setColorAt(0.5, peak);
    band.setColorAt(1.0, DS::at(DS::ink(), 0));
    p.setCompositionMode(QPainter::CompositionMode_Plus);
    p.fillRect(area, band);
}
