#include "gui/design/AimGuard.h"

#include <QAbstractButton>
#include <QEvent>
#include <QMouseEvent>
#include <QWidget>

namespace {

// How long a press is held to what was under the pointer before a change.
constexpr qint64 kHoldMs = 1000;
const char* const kMeaning = "aim.meaning";

} // namespace

AimGuard::AimGuard(QWidget* area)
    : QObject(area)
    , m_area(area)
{
}

void AimGuard::watch(QAbstractButton* control, const QString& meaning)
{
    const bool known = control->property(kMeaning).isValid();
    control->setProperty(kMeaning, meaning);
    if (known)
        return;
    m_controls.removeAll(nullptr);
    m_controls.append(control);
    control->installEventFilter(this);
}

void AimGuard::aboutToChange()
{
    m_looks.removeIf([](const Look& look) { return look.age.elapsed() >= kHoldMs; });
    m_controls.removeAll(nullptr);
    if (!m_area || !m_area->isVisible())
        return;
    Look look;
    look.age.start();
    for (const QPointer<QAbstractButton>& control : std::as_const(m_controls)) {
        if (!control->isVisible())
            continue;
        const QRect shown = control->visibleRegion().boundingRect();
        if (!shown.isEmpty())
            look.places.append(
                { shown.translated(control->mapToGlobal(QPoint(0, 0))), control->property(kMeaning).toString() });
    }
    m_looks.append(std::move(look));
}

bool AimGuard::aimedAt(const QPoint& point, const QString& meaning)
{
    m_looks.removeIf([](const Look& look) { return look.age.elapsed() >= kHoldMs; });
    for (const Look& look : std::as_const(m_looks)) {
        for (const Place& place : look.places) {
            if (place.rect.contains(point) && place.meaning != meaning)
                return false;
        }
    }
    return true;
}

bool AimGuard::eventFilter(QObject* watched, QEvent* event)
{
    // A press (or the press half of a double click) only: a release finishes
    // a press that was taken.
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick)
        return false;
    const QPoint point = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
    return !aimedAt(point, watched->property(kMeaning).toString());
}
