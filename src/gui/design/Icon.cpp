#include "gui/design/Icon.h"

#include "core/design/IconTable.h"

#include <QImage>
#include <QPainter>
#include <QPixmapCache>
#include <QSvgRenderer>

#include <cmath>

Icon::Icon(const QString& symbol, qreal size, const QColor& tint, QWidget* parent)
    : QWidget(parent)
    , m_symbol(symbol)
    , m_size(size)
    , m_tint(tint)
{
    setFixedSize(sizeHint());
    setAttribute(Qt::WA_TransparentForMouseEvents);
    // Decorative: the text beside it says the same.
    setAccessibleName(QString());
}

void Icon::setSymbol(const QString& symbol)
{
    if (symbol == m_symbol)
        return;
    m_symbol = symbol;
    update();
}

void Icon::setTint(const QColor& tint)
{
    if (tint == m_tint)
        return;
    m_tint = tint;
    update();
}

int Icon::boxFor(qreal size)
{
    return int(std::lround(size * 1.2));
}

QSize Icon::sizeHint() const
{
    const int edge = boxFor(m_size);
    return { edge, edge };
}

QPixmap Icon::pixmap(const QString& symbol, int px, const QColor& tint, qreal devicePixelRatio)
{
    const QString path = IconTable::resourcePath(symbol);
    if (path.isEmpty() || px <= 0)
        return {};
    // Every paint of an icon asks again: the drawing is kept, not parsed and
    // rendered anew.
    const QString key = QStringLiteral("icon:%1:%2:%3:%4").arg(symbol).arg(px).arg(tint.rgba()).arg(devicePixelRatio);
    QPixmap kept;
    if (QPixmapCache::find(key, &kept))
        return kept;
    QSvgRenderer renderer(path);
    if (!renderer.isValid())
        return {};
    const int device = int(std::ceil(px * devicePixelRatio));
    QImage image(device, device, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        renderer.render(&p, QRectF(0, 0, device, device));
        // Keep the shape's coverage, replace its colour.
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(image.rect(), tint);
    }
    QPixmap pm = QPixmap::fromImage(image);
    pm.setDevicePixelRatio(devicePixelRatio);
    QPixmapCache::insert(key, pm);
    return pm;
}

void Icon::paintEvent(QPaintEvent*)
{
    const int edge = qMin(width(), height());
    const QPixmap pm = pixmap(m_symbol, edge, m_tint, devicePixelRatioF());
    if (pm.isNull())
        return;
    QPainter p(this);
    p.drawPixmap(QPointF((width() - edge) / 2.0, (height() - edge) / 2.0), pm);
}
