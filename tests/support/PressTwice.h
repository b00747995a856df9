#pragma once

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QtTest>

#include <functional>

// Two presses at one point of `root`, as by a user who does not move the
// pointer: the first on `first`; then, once `changed` holds (the change that
// may bring another control under the pointer has come), a second about 0.7 s
// after the first and at least half a second after the change, on whatever
// button is at that point by then.
inline void pressTwiceInPlace(QWidget* root, QAbstractButton* first, const std::function<bool()>& changed)
{
    const QPoint at = first->mapTo(root, first->rect().center());
    QElapsedTimer sinceFirst;
    sinceFirst.start();
    QTest::mouseClick(first, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(changed(), 15000);
    QTest::qWait(int(qMax<qint64>(500, 700 - sinceFirst.elapsed())));
    QWidget* under = root->childAt(at);
    while (under && !qobject_cast<QAbstractButton*>(under))
        under = under->parentWidget();
    if (under)
        QTest::mouseClick(under, Qt::LeftButton, {}, under->mapFrom(root, at));
}
