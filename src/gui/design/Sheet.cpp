#include "gui/design/Sheet.h"

#include "core/design/DS.h"
#include "gui/design/ScreenFit.h"
#include "gui/design/Style.h"
#include "gui/design/TabChain.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace {
// What a scrolling part keeps on the smallest screen: a few lines of it.
constexpr int kScrollingFloor = 80;
} // namespace

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

int Sheet::innerWidth() const
{
    const QMargins margins = m_column->contentsMargins();
    return m_width - margins.left() - margins.right();
}

QVBoxLayout* Sheet::addScrollingColumn(int cap)
{
    m_scrollingCap = cap;
    m_scrolling = new QScrollArea(this);
    m_scrolling->setFrameShape(QFrame::NoFrame);
    m_scrolling->setWidgetResizable(true);
    m_scrolling->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scrolling->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // No stop of its own; Tab goes to the controls in it and scrolls them into view.
    m_scrolling->setFocusPolicy(Qt::NoFocus);
    m_scrolling->viewport()->setAutoFillBackground(false);
    m_scrolling->setAutoFillBackground(false);
    m_scrolling->verticalScrollBar()->setStyleSheet(Style::scrollBar());
    auto* body = new QWidget;
    // As tall as its rows at the width it has, never its minimum height: that
    // one is measured with every wrapped text at its narrowest.
    body->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Ignored);
    auto* rows = new QVBoxLayout(body);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(m_column->spacing());
    m_scrolling->setWidget(body);
    // Set after setWidget(), which turns it on: the sheet's own background shows through.
    body->setAutoFillBackground(false);
    m_column->addWidget(m_scrolling);
    return rows;
}

int Sheet::screenRoom() const
{
    return ScreenFit::room(this).height();
}

int Sheet::wantedHeight() const
{
    QLayout* top = layout();
    top->activate();
    // Fixed, or the layout's minimum would win. That minimum is measured with
    // every wrapped text at its narrowest (an empty state's sentence a word or
    // two a line): it counts only where the height for this width is unknown.
    if (top->hasHeightForWidth())
        return top->totalHeightForWidth(m_width);
    // Never below what the rows say they need, or they would be squeezed together.
    return qMax(top->sizeHint().height(), top->totalMinimumSize().height());
}

void Sheet::refit()
{
    if (!layout())
        return;
    int natural = 0;
    if (m_scrolling) {
        // As tall as its rows first; then it gives up what the screen has not.
        QLayout* rows = m_scrolling->widget()->layout();
        natural = rows->hasHeightForWidth() ? rows->totalHeightForWidth(innerWidth())
                                            : m_scrolling->widget()->sizeHint().height();
        m_scrolling->setFixedHeight(qMin(m_scrollingCap, natural));
    }
    int wanted = wantedHeight();
    const int over = wanted - screenRoom();
    if (over > 0 && m_scrolling && !m_scrolling->isHidden()) {
        const int had = m_scrolling->minimumHeight();
        m_scrolling->setFixedHeight(qMin(had, qMax(kScrollingFloor, had - over)));
        wanted = wantedHeight();
    }
    if (m_scrolling && natural <= m_scrolling->minimumHeight() && m_scrolling->verticalScrollBar()->isVisible()) {
        // The rows fit at the full width, yet a bar shown for a moment while
        // they changed stays: it narrows them, their texts wrap into more
        // lines and the last rows slide under the buttons. Measured again
        // without it, the scrolling part finds they fit.
        m_scrolling->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        QEvent measure(QEvent::LayoutRequest);
        QCoreApplication::sendEvent(m_scrolling, &measure);
        m_scrolling->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    }
    setFixedHeight(wanted);
    // Opened centred on the window while it was shorter, it may reach past the screen's bottom now.
    ScreenFit::keepOnScreen(this);
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
