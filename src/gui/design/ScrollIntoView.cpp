#include "gui/design/ScrollIntoView.h"

#include "core/platform/ReduceMotion.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPropertyAnimation>
#include <QScrollArea>
#include <QScrollBar>

namespace ScrollIntoView {

namespace {

// Enough of the part to be seen as there, below its top.
constexpr int kShown = 48;

// Where the top of `widget` is on the page; settles pending layouts first.
int topOnPage(QScrollArea* area, QWidget* widget)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    return widget->mapTo(area->widget(), QPoint(0, 0)).y();
}

void scrollTo(QScrollArea* area, int target)
{
    QScrollBar* bar = area->verticalScrollBar();
    target = qBound(bar->minimum(), target, bar->maximum());
    if (ReduceMotion::enabled()) {
        bar->setValue(target);
        return;
    }
    auto* animation = new QPropertyAnimation(bar, "value", bar);
    animation->setDuration(250);
    animation->setEasingCurve(QEasingCurve::InOutCubic);
    animation->setEndValue(target);
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

} // namespace

QScrollArea* areaOf(const QWidget* widget)
{
    for (QWidget* w = widget ? widget->parentWidget() : nullptr; w; w = w->parentWidget()) {
        if (auto* area = qobject_cast<QScrollArea*>(w); area && area->widget() && area->widget()->isAncestorOf(widget))
            return area;
    }
    return nullptr;
}

void toTop(QWidget* widget)
{
    if (QScrollArea* area = areaOf(widget))
        scrollTo(area, topOnPage(area, widget));
}

void reveal(QWidget* widget)
{
    QScrollArea* area = areaOf(widget);
    if (!area)
        return;
    const int top = topOnPage(area, widget);
    const int offset = area->verticalScrollBar()->value();
    if (top >= offset && top + kShown <= offset + area->viewport()->height())
        return;
    scrollTo(area, top);
}

} // namespace ScrollIntoView
