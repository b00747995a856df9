#pragma once

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QWheelEvent>
#include <QtTest>

#include <functional>

// The button at a point of `root`, if any.
inline QAbstractButton* buttonAt(QWidget* root, const QPoint& at)
{
    QWidget* under = root->childAt(at);
    while (under && !qobject_cast<QAbstractButton*>(under))
        under = under->parentWidget();
    return qobject_cast<QAbstractButton*>(under);
}

// The user moves the pointer away and back onto the control at `at`, coming
// to rest a few pixels off: where the second press goes.
inline QPoint moveAwayAndBack(QWidget* root, const QPoint& at)
{
    QTest::mouseMove(root, QPoint(2, 2));
    const QPoint back = at + QPoint(3, 1);
    QTest::mouseMove(root, back);
    return back;
}

// The user turns the wheel over `at`, one notch at a time, until a button
// other than `from` (or `from` with another text) is under the still pointer.
inline QPoint wheelUntilAnotherButton(QWidget* root, const QPoint& at, QAbstractButton* from)
{
    const QString text = from ? from->text() : QString();
    auto* area = qobject_cast<QAbstractScrollArea*>(root->childAt(at));
    for (QWidget* w = root->childAt(at); w && !area; w = w->parentWidget())
        area = qobject_cast<QAbstractScrollArea*>(w);
    if (!area)
        return at;
    for (int notch = 0; notch < 60; ++notch) {
        QWidget* viewport = area->viewport();
        const QPoint local = viewport->mapFrom(root, at);
        QWheelEvent wheel(local, viewport->mapToGlobal(local), QPoint(), QPoint(0, -40), Qt::NoButton, Qt::NoModifier,
            Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &wheel);
        QApplication::processEvents();
        QAbstractButton* now = buttonAt(root, at);
        if (now && (now != from || now->text() != text))
            break;
    }
    return at;
}

// Two presses on `root`, as by a user: the first on `first`; then, once
// `changed` holds (the change that may bring another control under the
// pointer has come), about `afterMs` after the first and at least half a
// second after the change, `aim` gives the point of the second press (by
// default the same: a pointer that did not move), which comes at once on
// whatever button is at that point then, whose name goes to `pressed` ("" for none).
inline void pressTwice(QWidget* root, QAbstractButton* first, const std::function<bool()>& changed,
    const std::function<QPoint(const QPoint&)>& aim = {}, int afterMs = 700, QString* pressed = nullptr)
{
    const QPoint at = first->mapTo(root, first->rect().center());
    QElapsedTimer sinceFirst;
    sinceFirst.start();
    QTest::mouseClick(first, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(changed(), 15000);
    QElapsedTimer sinceChange;
    sinceChange.start();
    QTest::qWait(int(qMax<qint64>(500 - sinceChange.elapsed(), afterMs - sinceFirst.elapsed())));
    const QPoint second = aim ? aim(at) : at;
    QAbstractButton* under = buttonAt(root, second);
    if (pressed)
        *pressed = under ? under->objectName() : QString();
    if (under)
        QTest::mouseClick(under, Qt::LeftButton, {}, under->mapFrom(root, second));
}

// The same with a pointer that stays still.
inline void pressTwiceInPlace(QWidget* root, QAbstractButton* first, const std::function<bool()>& changed)
{
    pressTwice(root, first, changed);
}
