#include "gui/design/AnywhereLabel.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
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
    m_anchor = m_cursor = 0;
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
    forgetIfChanged();
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    const QRect room = contentsRect();
    QTextLayout layout;
    layOut(layout, room.width());
    QList<QTextLayout::FormatRange> selection;
    if (m_anchor != m_cursor) {
        QTextLayout::FormatRange range;
        range.start = qMin(m_anchor, m_cursor);
        range.length = qAbs(m_cursor - m_anchor);
        range.format.setBackground(palette().highlight());
        range.format.setForeground(palette().highlightedText());
        selection.append(range);
    }
    layout.draw(&painter, room.topLeft(), selection);
}

void AnywhereLabel::setSelectable()
{
    m_selectable = true;
    // As a label that selects with the mouse: a click gives it the keyboard (for Ctrl+C), Tab never does.
    setFocusPolicy(Qt::ClickFocus);
    setCursor(Qt::IBeamCursor);
}

QString AnywhereLabel::selectedText() const
{
    forgetIfChanged();
    return text().mid(qMin(m_anchor, m_cursor), qAbs(m_cursor - m_anchor));
}

int AnywhereLabel::positionAt(const QPoint& point) const
{
    const QRect room = contentsRect();
    QTextLayout layout;
    layOut(layout, room.width());
    const QPointF at = point - room.topLeft();
    for (int i = 0; i < layout.lineCount(); ++i) {
        const QTextLine line = layout.lineAt(i);
        if (at.y() < line.rect().bottom() || i == layout.lineCount() - 1)
            return line.xToCursor(at.x());
    }
    return 0;
}

void AnywhereLabel::mousePressEvent(QMouseEvent* event)
{
    if (!m_selectable || event->button() != Qt::LeftButton) {
        QLabel::mousePressEvent(event);
        return;
    }
    forgetIfChanged();
    m_anchor = m_cursor = positionAt(event->position().toPoint());
    update();
}

void AnywhereLabel::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_selectable || !(event->buttons() & Qt::LeftButton)) {
        QLabel::mouseMoveEvent(event);
        return;
    }
    m_cursor = positionAt(event->position().toPoint());
    update();
}

void AnywhereLabel::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    // What is selected is offered to a middle click elsewhere, as on this desktop everywhere.
    if (m_selectable && m_anchor != m_cursor && QGuiApplication::clipboard()->supportsSelection())
        QGuiApplication::clipboard()->setText(selectedText(), QClipboard::Selection);
}

void AnywhereLabel::keyPressEvent(QKeyEvent* event)
{
    if (m_selectable && event->matches(QKeySequence::Copy) && m_anchor != m_cursor) {
        copy();
        return;
    }
    QLabel::keyPressEvent(event);
}

void AnywhereLabel::contextMenuEvent(QContextMenuEvent* event)
{
    if (!m_selectable) {
        QLabel::contextMenuEvent(event);
        return;
    }
    QMenu menu(this);
    QAction* copying
        = menu.addAction(QCoreApplication::translate("QWidgetTextControl", "&Copy"), this, [this] { copy(); });
    copying->setEnabled(m_anchor != m_cursor);
    menu.addAction(QCoreApplication::translate("QWidgetTextControl", "Select All"), this, [this] {
        m_anchor = 0;
        m_cursor = int(text().size());
        update();
    });
    menu.exec(event->globalPos());
}

void AnywhereLabel::copy() const
{
    QGuiApplication::clipboard()->setText(selectedText());
}
