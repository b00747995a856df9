#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>

class QAbstractButton;
class QWidget;

// A press reaches only the control, and the meaning, that were under the
// pointer when it was aimed. A view that redraws its items (a list reloaded, a
// row acted on) calls aboutToChange() first; for about a second after, a
// press at a point where another control sat then, or this control with
// another meaning (the next row slid up into the place of the one decided, a
// "收回" turned "授权" in place), is not taken. No question is asked: the
// press simply does nothing. A control that was not under the pointer then
// is not held back.
class AimGuard : public QObject {
    Q_OBJECT
public:
    // `area`: the view the controls are in; nothing is remembered while it is hidden.
    explicit AimGuard(QWidget* area);

    // Guards the mouse presses on `control`, which means `meaning` (the item
    // and what a press does to it); a control watched again takes the new meaning.
    void watch(QAbstractButton* control, const QString& meaning);
    // Remembers where each control shown now is and what it means.
    void aboutToChange();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Place {
        QRect rect; // global
        QString meaning;
    };
    struct Look {
        QElapsedTimer age;
        QList<Place> places;
    };
    // Whether a press at `point` on a control meaning `meaning` was aimed at it.
    bool aimedAt(const QPoint& point, const QString& meaning);

    QPointer<QWidget> m_area;
    QList<QPointer<QAbstractButton>> m_controls;
    QList<Look> m_looks;
};
