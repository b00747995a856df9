#pragma once

#include <QList>
#include <QObject>
#include <QPair>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>

#include <functional>

class QAbstractButton;
class QLabel;
class QWidget;

// A press reaches only what the user aimed at. A view that redraws its items
// (a list reloaded, a row acted on) calls aboutToChange() first, and the
// guard notes what each control in view stands for (item and action) and
// where it is drawn then. Two kinds of press are held, as not aimed:
// - one from a pointer that has stayed still since a change, for about a
//   second after it, on a control that stands for something else than what
//   was under the pointer (the next row slid up into the place of the one
//   decided, a "收回" turned "授权" in place): one double click acts on one
//   item;
// - any press within a human reaction time (about 0.4 s) of a change that put
//   this control where another one, standing for something else, was drawn,
//   even when the pointer moved: nobody aims at a row in the tenth of a
//   second after it slid into place.
// A press aimed later (after the pointer moved or the user scrolled), or on a
// control that still stands for what was drawn there, is always taken: a
// change that changed nothing there holds nothing. A held press says so
// where it was pressed, in a short note beside the control.
class AimGuard : public QObject {
    Q_OBJECT
public:
    // `area`: the view the controls are in; nothing is noted while it is hidden.
    explicit AimGuard(QWidget* area);
    ~AimGuard() override;

    // Guards the mouse presses on `control`, which means `meaning` (the item
    // and what a press does to it); a control watched again takes the new meaning.
    void watch(QAbstractButton* control, const QString& meaning);
    // Notes what the controls in view mean, and where, before a change.
    void aboutToChange();

    // The time the guard reads, in milliseconds on a monotonic clock; tests
    // give one they move by hand (an empty one restores the real clock).
    static void setClock(std::function<qint64()> clock);

    // The text of the note a held press shows.
    static QString heldText();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Look {
        qint64 at = 0; // when the change came
        quint64 aims = 0; // the pointer's aims when the change came
        QString underPointer; // the meaning of the control under the pointer then
        // What was drawn where (global coordinates), before the change.
        QList<QPair<QRect, QString>> drawn;
        QString drawnAt(const QPoint& point) const;
    };
    // What the watched control at `point` (global) means; empty when none is there.
    QString meaningAt(const QPoint& point);
    // Drops what has aged, and what the user has aimed again since.
    void prune();
    bool holds(QAbstractButton* control, const QPoint& pressedAt);
    void sayHeld(QAbstractButton* control);

    QPointer<QWidget> m_area;
    QList<QPointer<QAbstractButton>> m_controls;
    QList<Look> m_looks;
    QPointer<QLabel> m_note;
};
