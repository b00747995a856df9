#include "gui/design/Sheet.h"

#include "core/design/DS.h"
#include "gui/design/TabChain.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QVBoxLayout>

Sheet::Sheet(const QString& identifier, const QString& title, int width, QWidget* parent)
    : QDialog(parent)
    , m_width(width)
{
    setObjectName(identifier);
    setWindowTitle(title);
    setAccessibleName(title);
    setWindowModality(Qt::WindowModal);
    setFixedWidth(width);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, DS::bg());
    setPalette(pal);

    m_column = new QVBoxLayout(this);
    m_column->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    m_column->setSpacing(14);
}

void Sheet::refit()
{
    if (QLayout* top = layout()) {
        top->activate();
        // Fixed, or the layout's minimum (measured at narrow widths) would win.
        const int wanted = top->hasHeightForWidth() ? top->totalHeightForWidth(m_width) : top->sizeHint().height();
        // Never below what the rows say they need, or they would be squeezed together.
        setFixedHeight(qMax(wanted, top->totalMinimumSize().height()));
    }
}

void Sheet::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Fonts and styles are final once shown: measure again.
    refit();
}

bool Sheet::focusNextPrevChild(bool next)
{
    // A row's button that turns busy keeps the keyboard on that row, not on
    // the next row's button; Tab follows the sheet.
    return TabChain::focusNextPrevChild(this, next);
}

void Sheet::setDefaultButton(QAbstractButton* button)
{
    m_default = button;
}

void Sheet::keyPressEvent(QKeyEvent* event)
{
    // QDialog presses only a QPushButton marked default, and the sheets' buttons are the design's own.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!enter || (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
        QDialog::keyPressEvent(event);
        return;
    }
    auto* focused = qobject_cast<QAbstractButton*>(focusWidget());
    QAbstractButton* button = focused ? focused : m_default.data();
    if (button && button->isVisible() && button->isEnabled())
        button->click();
}
