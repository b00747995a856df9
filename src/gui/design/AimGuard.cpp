#include "gui/design/AimGuard.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "gui/design/DSText.h"
#include "gui/design/Style.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleHints>
#include <QTimer>
#include <QWidget>

#include <algorithm>

namespace {

// How long a press is held to what was under a still pointer before a change.
constexpr qint64 kHoldMs = 1000;
// A human reaction time: no press this soon after a change was aimed at what it brought.
constexpr qint64 kReactMs = 400;
// How long the note of a held press stays.
constexpr int kNoteMs = 3000;
const char* const kMeaning = "aim.meaning";

std::function<qint64()>& givenClock()
{
    static std::function<qint64()> clock;
    return clock;
}

qint64 now()
{
    if (const std::function<qint64()>& given = givenClock())
        return given();
    static QElapsedTimer monotonic;
    if (!monotonic.isValid())
        monotonic.start();
    return monotonic.elapsed();
}

// The note a held press leaves beside its control: a small plate over the
// window, gone after a few seconds.
class HeldNote : public QLabel {
public:
    explicit HeldNote(QWidget* window)
        : QLabel(window)
    {
        setObjectName(QStringLiteral("aim.held"));
        setTextFormat(Qt::PlainText);
        setFont(DSFont::medium(11));
        DSText::setColour(this, DS::amber());
        setContentsMargins(8, 4, 8, 4);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        m_timer.setSingleShot(true);
        m_timer.setInterval(kNoteMs);
        connect(&m_timer, &QTimer::timeout, this, &QWidget::hide);
    }

    // Shows the note under `control` (over it when there is no room below).
    void showAt(QWidget* control)
    {
        const QString text = AimGuard::heldText();
        setText(text);
        setAccessibleName(text);
        adjustSize();
        QWidget* window = parentWidget();
        const QPoint top = control->mapTo(window, QPoint(0, 0));
        int y = top.y() + control->height() + 4;
        if (y + height() > window->height())
            y = top.y() - height() - 4;
        const int x = qBound(0, top.x(), qMax(0, window->width() - width()));
        move(x, qMax(0, y));
        show();
        raise();
        m_timer.start();
        QAccessibleEvent alert(this, QAccessible::Alert);
        QAccessible::updateAccessibility(&alert);
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        {
            QPainter p(this);
            Style::paintPlate(p, QRectF(rect()), 6, DS::bg(), DS::at(DS::amber(), 0.6));
        }
        QLabel::paintEvent(event);
    }

private:
    QTimer m_timer;
};

// A screen reader presents the note as an alert when it shows (a label
// would be static text it reads only when the user walks to it).
QAccessibleInterface* noteAsAlert(const QString&, QObject* object)
{
    if (auto* note = dynamic_cast<HeldNote*>(object))
        return new QAccessibleWidget(note, QAccessible::AlertMessage);
    return nullptr;
}

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
    static const bool alerts = [] {
        QAccessible::installFactory(noteAsAlert);
        return true;
    }();
    Q_UNUSED(alerts);
}

// The note lives in the window, which outlasts a guard of one card.
AimGuard::~AimGuard()
{
    delete m_note;
}

void AimGuard::setClock(std::function<qint64()> given)
{
    givenClock() = std::move(given);
}

QString AimGuard::heldText()
{
    return QStringLiteral("这里刚刚变了，这一下没有算——看清了再点。");
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
    const qint64 t = now();
    m_looks.removeIf([aims, t](const Look& look) {
        const qint64 age = t - look.at;
        return age >= kHoldMs || (age >= kReactMs && look.aims != aims);
    });
}

QString AimGuard::Look::drawnAt(const QPoint& point) const
{
    for (const auto& [rect, meaning] : drawn) {
        if (rect.contains(point))
            return meaning;
    }
    return QString();
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
    if (!m_area || !m_area->isVisible())
        return;
    const Pointer* pointer = Pointer::shared();
    Look look;
    look.at = now();
    look.aims = pointer ? pointer->aims() : 0;
    if (pointer && pointer->at())
        look.underPointer = meaningAt(*pointer->at());
    // Rows made earlier and scrolled far away are not drawn: only what lies
    // within the area is clipped to what shows of it.
    const QRect area(m_area->mapToGlobal(QPoint(0, 0)), m_area->size());
    for (const QPointer<QAbstractButton>& control : std::as_const(m_controls)) {
        if (!control->isVisible())
            continue;
        const QPoint origin = control->mapToGlobal(QPoint(0, 0));
        if (!area.intersects(QRect(origin, control->size())))
            continue;
        const QRect shown = control->visibleRegion().boundingRect();
        if (!shown.isEmpty())
            look.drawn.append({ shown.translated(origin), control->property(kMeaning).toString() });
    }
    m_looks.append(std::move(look));
}

bool AimGuard::holds(QAbstractButton* control, const QPoint& pressedAt)
{
    prune();
    const Pointer* pointer = Pointer::shared();
    const quint64 aims = pointer ? pointer->aims() : 0;
    const qint64 t = now();
    const QString meaning = control->property(kMeaning).toString();
    return std::any_of(m_looks.cbegin(), m_looks.cend(), [&](const Look& look) {
        // Too soon after the change to have been aimed at what it drew here
        // in the place of another control.
        if (t - look.at < kReactMs) {
            const QString before = look.drawnAt(pressedAt);
            if (!before.isEmpty() && before != meaning)
                return true;
        }
        // A still pointer over a control that means something else now; one
        // that rested on none of the controls was aimed at none.
        return look.aims == aims && !look.underPointer.isEmpty() && look.underPointer != meaning;
    });
}

void AimGuard::sayHeld(QAbstractButton* control)
{
    QWidget* window = control->window();
    if (!m_note || m_note->parentWidget() != window) {
        delete m_note;
        m_note = new HeldNote(window);
    }
    static_cast<HeldNote*>(m_note.data())->showAt(control);
}

bool AimGuard::eventFilter(QObject* watched, QEvent* event)
{
    // A press (or the press half of a double click) only: a release finishes
    // a press that was taken.
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick)
        return false;
    auto* control = qobject_cast<QAbstractButton*>(watched);
    if (!control)
        return false;
    const QPoint at = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
    if (!holds(control, at)) {
        if (m_note)
            m_note->hide();
        return false;
    }
    sayHeld(control);
    return true;
}
