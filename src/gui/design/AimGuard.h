#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>

#include <optional>

class QAbstractButton;
class QWidget;

// A press reaches only what the user aimed at. A view that redraws its items
// (a list reloaded, a row acted on) calls aboutToChange() first, and the
// guard notes which control, standing for which item and action, is under
// the pointer then. For about a second after, a press from a pointer that has
// stayed still since, on a control that stands for something else now (the
// next row slid up into the place of the one decided, a "收回" turned "授权"
// in place), is not taken: one double click acts on one item. A press after
// the pointer moved, or after the user scrolled (wheel, scroll bar,
// keyboard), is aimed and always taken, and so is one on a control that
// still stands for what was under the pointer: a change that changed nothing
// there holds nothing, and neither does one under a pointer that rested on
// none of the controls. No question is asked: a held press simply does nothing.
class AimGuard : public QObject {
    Q_OBJECT
public:
    // `area`: the view the controls are in; nothing is noted while it is hidden.
    explicit AimGuard(QWidget* area);

    // Guards the mouse presses on `control`, which means `meaning` (the item
    // and what a press does to it); a control watched again takes the new meaning.
    void watch(QAbstractButton* control, const QString& meaning);
    // Notes what the control under the pointer means before a change.
    void aboutToChange();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Look {
        QElapsedTimer age;
        quint64 aims = 0; // the pointer's aims when the change came
        QString meaning; // of the control under the pointer before the change
    };
    // What the watched control at `point` (global) means; empty when none is there.
    QString meaningAt(const QPoint& point);
    // Drops what has aged, and what the user has aimed again since.
    void prune();

    QPointer<QWidget> m_area;
    QList<QPointer<QAbstractButton>> m_controls;
    QList<Look> m_looks;
};
