#include "gui/design/Style.h"

#include "core/design/DS.h"

#include <QPainter>
#include <QPainterPath>

namespace Style {

namespace {
QString css(const QColor& colour)
{
    return colour.name(QColor::HexArgb);
}

// The list a combo box drops down: a window of its own, which takes none of
// the page's colours by itself. Ink on the lifted background, the choice in mint.
QString dropDownList()
{
    return QStringLiteral("QComboBox QAbstractItemView { color: %1; background: %2; border: 1px solid %3;"
                          " border-radius: 8px; selection-background-color: %4; selection-color: %1; padding: 4px;"
                          " outline: none; }")
        .arg(css(DS::ink()), css(DS::bg().lighter(135)), css(DS::hair()), css(DS::at(DS::mint(), 0.25)));
}
} // namespace

QString scrollBar()
{
    return QStringLiteral("QScrollBar:vertical { background: transparent; width: 10px; margin: 2px; }"
                          "QScrollBar::handle:vertical { background: %1; border-radius: 3px; min-height: 32px; }"
                          "QScrollBar::handle:vertical:hover { background: %2; }"
                          "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
                          "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }")
        // At least 3:1 against the background, on the page and in the sheets.
        .arg(css(DS::muted(0.45)), css(DS::muted(0.6)));
}

QColor focusRing()
{
    return DS::at(DS::ink(), 0.6);
}

void paintFocusRing(QPainter& p, const QRectF& rect, qreal radius)
{
    p.save();
    p.setOpacity(1.0);
    paintPlate(p, rect, radius, Qt::transparent, focusRing());
    p.restore();
}

QString field()
{
    return QStringLiteral("QLineEdit, QComboBox { background: %1; color: %2; border: 1px solid %3;"
                          " border-radius: 7px; padding: 4px 8px; }"
                          "QLineEdit:focus, QComboBox:focus { border-color: %4; }")
               .arg(css(DS::muted(0.06)), DS::ink().name(), css(DS::hair()), css(focusRing()))
        + dropDownList();
}

QString logView()
{
    // The border is there while unfocused too, so that the text does not move when it is coloured.
    return QStringLiteral("QPlainTextEdit { background: %1; color: %2; border: 1px solid transparent;"
                          " border-radius: 8px; padding: 7px; }"
                          "QPlainTextEdit:focus { border-color: %3; }")
               .arg(css(DS::muted(0.05)), css(DS::muted(0.55)), css(focusRing()))
        + scrollBar();
}

QString workspaceSwitcher()
{
    return QStringLiteral(
               "QComboBox { color: %1; background: transparent; border: 1px solid transparent; border-radius: 6px;"
               " padding: 0 17px 0 0; }"
               "QComboBox:hover { background: %2; }"
               "QComboBox:focus { border-color: %3; }"
               "QComboBox::drop-down { border: none; width: 16px; subcontrol-origin: padding; subcontrol-position: "
               "right "
               "center; }")
               .arg(css(DS::ink()), css(DS::muted(0.08)), css(focusRing()))
        + dropDownList();
}

QString iconButton()
{
    return QStringLiteral("QToolButton { border: 1px solid %1; border-radius: 7px; padding: 4px;"
                          " background: %2; } QToolButton:hover { background: %3; }"
                          " QToolButton:focus { border-color: %4; }"
                          " QToolButton:disabled { background: transparent; }")
        .arg(css(DS::hair()), css(DS::muted(0.06)), css(DS::muted(0.12)), css(focusRing()));
}

void paintPlate(QPainter& p, const QRectF& rect, qreal radius, const QColor& fill, const QColor& stroke)
{
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(rect, radius, radius);
    p.fillPath(shape, fill);
    if (!stroke.isValid() || stroke.alpha() == 0)
        return;
    // The border lies inside the shape: inset by half its width.
    QPen pen(stroke, 1.0);
    pen.setJoinStyle(Qt::MiterJoin);
    pen.setCapStyle(Qt::FlatCap);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(rect.adjusted(0.5, 0.5, -0.5, -0.5), radius - 0.5, radius - 0.5);
}

} // namespace Style
