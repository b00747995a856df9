#include "gui/design/AnywhereLabel.h"

#include <QPainter>
#include <QTextLayout>

#include <cmath>

namespace {
// What it asks for at most when nothing constrains it.
constexpr int kPreferredWidth = 360;
} // namespace

AnywhereLabel::AnywhereLabel(QWidget* parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void AnywhereLabel::forgetIfChanged() const
{
    if (text() == m_measuredText && font() == m_measuredFont)
        return;
    m_measuredText = text();
    m_measuredFont = font();
    m_heights.clear();
}

qreal AnywhereLabel::layOut(QTextLayout& layout, int width) const
{
    QString shown = text();
    shown.replace(QLatin1Char('\n'), QChar::LineSeparator);
    layout.setText(shown);
    layout.setFont(font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setAlignment(alignment() & Qt::AlignHorizontal_Mask);
    layout.setTextOption(option);
    qreal height = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(qMax(1, width));
        line.setPosition(QPointF(0, height));
        height += line.height();
    }
    layout.endLayout();
    return height;
}

int AnywhereLabel::heightForWidth(int width) const
{
    if (text().isEmpty())
        return 0;
    forgetIfChanged();
    const QMargins m = contentsMargins();
    const int inner = width - m.left() - m.right();
    return m_heights.at(inner,
               [this](int w) {
                   QTextLayout layout;
                   return int(std::ceil(layOut(layout, w)));
               })
        + m.top() + m.bottom();
}

QSize AnywhereLabel::sizeHint() const
{
    const QMargins m = contentsMargins();
    int natural = 0;
    const QFontMetrics fm(font());
    for (const QString& line : text().split(QLatin1Char('\n')))
        natural = qMax(natural, fm.horizontalAdvance(line) + 1);
    const int w = qMin(kPreferredWidth, natural) + m.left() + m.right();
    return { w, heightForWidth(w) };
}

QSize AnywhereLabel::minimumSizeHint() const
{
    const QMargins m = contentsMargins();
    const int w = QFontMetrics(font()).averageCharWidth() * 4 + m.left() + m.right();
    return { w, heightForWidth(w) };
}

void AnywhereLabel::paintEvent(QPaintEvent*)
{
    if (text().isEmpty())
        return;
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    const QRect room = contentsRect();
    QTextLayout layout;
    layOut(layout, room.width());
    layout.draw(&painter, room.topLeft());
}
