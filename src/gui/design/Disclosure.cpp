#include "gui/design/Disclosure.h"

#include "core/design/DS.h"
#include "gui/design/Icon.h"
#include "gui/design/Style.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include <cmath>

namespace {

// The clickable header: chevron, gap, title.
class DisclosureHeader : public QAbstractButton {
public:
    explicit DisclosureHeader(const QString& title, QWidget* parent)
        : QAbstractButton(parent)
    {
        setText(title);
        setAccessibleName(title);
        setCheckable(true);
        setCursor(Qt::PointingHandCursor);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }

    QColor tint = DS::muted(0.5);

    QSize sizeHint() const override
    {
        const QFontMetrics fm(font());
        return { chevronBox() + kGap + fm.horizontalAdvance(text()) + 2, fm.height() };
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const int box = chevronBox();
        const QPixmap pm = Icon::pixmap(QStringLiteral("chevron.right"), box, tint, devicePixelRatioF());
        p.save();
        p.translate(box / 2.0, height() / 2.0);
        if (isChecked())
            p.rotate(90);
        p.drawPixmap(QPointF(-box / 2.0, -box / 2.0), pm);
        p.restore();
        p.setPen(tint);
        p.setFont(font());
        p.drawText(QRect(box + kGap, 0, width() - box - kGap, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
        if (hasFocus())
            Style::paintFocusRing(p, QRectF(rect()), 3);
    }

private:
    static constexpr int kGap = 5;
    int chevronBox() const { return int(std::lround(QFontMetricsF(font()).height() * 0.6)); }
};

} // namespace

Disclosure::Disclosure(const QString& title, QWidget* content, QWidget* parent)
    : QWidget(parent)
    , m_header(new DisclosureHeader(title, this))
    , m_content(content)
{
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(6);
    m_headerRow = new QHBoxLayout;
    m_headerRow->setContentsMargins(0, 0, 0, 0);
    m_headerRow->setSpacing(6);
    m_headerRow->addWidget(m_header, 0, Qt::AlignVCenter);
    m_headerRow->addStretch(1);
    stack->addLayout(m_headerRow);
    if (m_content) {
        m_content->setParent(this);
        stack->addWidget(m_content);
        m_content->setVisible(false);
    }
    connect(m_header, &QAbstractButton::toggled, this, &Disclosure::setExpanded);
}

void Disclosure::setExpanded(bool expanded)
{
    if (expanded == m_expanded)
        return;
    m_expanded = expanded;
    m_header->setChecked(expanded);
    if (m_content)
        m_content->setVisible(expanded);
    emit expandedChanged(expanded);
}

void Disclosure::setHeaderFont(const QFont& font)
{
    m_header->setFont(font);
    m_header->updateGeometry();
}

void Disclosure::setTint(const QColor& tint)
{
    auto* header = static_cast<DisclosureHeader*>(m_header);
    if (header->tint == tint)
        return;
    header->tint = tint;
    m_header->update();
}

void Disclosure::setTitle(const QString& title)
{
    if (title == m_header->text())
        return;
    m_header->setText(title);
    m_header->setAccessibleName(title);
    m_header->updateGeometry();
    m_header->update();
}

void Disclosure::setAccessory(QWidget* accessory)
{
    accessory->setParent(this);
    m_headerRow->insertWidget(1, accessory, 0, Qt::AlignVCenter);
}
