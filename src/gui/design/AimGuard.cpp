#include "gui/design/AimGuard.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyleHints>
#include <QWidget>

#include <algorithm>

namespace {

// How long a press is held to what was under a still pointer before a change.
constexpr qint64 kHoldMs = 1000;
const char* const kMeaning = "aim.meaning";

// Where the pointer is, and how often the user has aimed anew: the pointer
// seen at another place, a wheel turned, a key given to a scrolled view. One
// for the application, watching every event before its receiver does (so a
// press at a new place counts as aimed before the guard looks at it).
class Pointer : public QObject {
public:
    static Pointer* shared()
    {
        static QPointer<Pointer> pointer;
        if (!pointer && qApp) {
            pointer = new Pointer(qApp);
            qApp->installEventFilter(pointer);
        }
        return pointer;
    }

    std::optional<QPoint> at() const { return m_at; }
    quint64 aims() const { return m_aims; }

protected:
    bool eventFilter(QObject* receiver, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::MouseMove:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick: {
            const QPoint at = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
            m_at = at;
            // The hand that double-clicks moves a pixel or two between the
            // presses: that is not aiming at what slid under it.
            if (!m_aimedFrom
                || (at - *m_aimedFrom).manhattanLength() > QGuiApplication::styleHints()->startDragDistance()) {
                m_aimedFrom = at;
                ++m_aims;
            }
            break;
        }
        case QEvent::Wheel:
            ++m_aims;
            break;
        case QEvent::KeyPress:
            // A moving key that reaches a view or its scroll bar scrolls it
            // (one the focused control takes ends there).
            if ((qobject_cast<QAbstractScrollArea*>(receiver) || qobject_cast<QAbstractSlider*>(receiver))
                && scrolls(static_cast<QKeyEvent*>(event)->key()))
                ++m_aims;
            break;
        default:
            break;
        }
        return false;
    }

private:
    using QObject::QObject;

    static bool scrolls(int key)
    {
        switch (key) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Home:
        case Qt::Key_End:
            return true;
        default:
            return false;
        }
    }

    std::optional<QPoint> m_at;
    // Where the pointer was when its last aim was counted.
    std::optional<QPoint> m_aimedFrom;
    quint64 m_aims = 0;
};

} // namespace

AimGuard::AimGuard(QWidget* area)
    : QObject(area)
    , m_area(area)
{
    Pointer::shared();
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

void AimGuard::prune()
{
    const Pointer* pointer = Pointer::shared();
    const quint64 aims = pointer ? pointer->aims() : 0;
    m_looks.removeIf([aims](const Look& look) { return look.aims != aims || look.age.elapsed() >= kHoldMs; });
}

QString AimGuard::meaningAt(const QPoint& point)
{
    for (const QPointer<QAbstractButton>& control : std::as_const(m_controls)) {
        if (!control || !control->isVisible())
            continue;
        const QPoint local = control->mapFromGlobal(point);
        if (control->rect().contains(local) && control->visibleRegion().contains(local))
            return control->property(kMeaning).toString();
    }
    return QString();
}

void AimGuard::aboutToChange()
{
    prune();
    m_controls.removeAll(nullptr);
    const Pointer* pointer = Pointer::shared();
    if (!pointer || !pointer->at() || !m_area || !m_area->isVisible())
        return;
    // Over none of the controls, the pointer was not aimed at any.
    const QString meaning = meaningAt(*pointer->at());
    if (meaning.isEmpty())
        return;
    Look look;
    look.age.start();
    look.aims = pointer->aims();
    look.meaning = meaning;
    m_looks.append(std::move(look));
}

bool AimGuard::eventFilter(QObject* watched, QEvent* event)
{
    // A press (or the press half of a double click) only: a release finishes
    // a press that was taken.
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick)
        return false;
    prune();
    const QString meaning = watched->property(kMeaning).toString();
    return std::any_of(
        m_looks.cbegin(), m_looks.cend(), [&meaning](const Look& look) { return look.meaning != meaning; });
}
