#include "gui/platform/Prompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

class TestPrompts : public QObject {
    Q_OBJECT
private slots:
    void alertReturnsTheClickedButton_data();
    void alertReturnsTheClickedButton();
    void folderPickerCancelled();
    void scriptedAnswersInOrder();
};

void TestPrompts::alertReturnsTheClickedButton_data()
{
    QTest::addColumn<int>("click"); // -1: close with Escape
    QTest::addColumn<int>("expected");
    QTest::newRow("confirm") << 0 << 0;
    QTest::newRow("escape") << -1 << 1; // the last button cancels
}

void TestPrompts::alertReturnsTheClickedButton()
{
    QFETCH(int, click);
    QFETCH(int, expected);
    QWidget parent;
    parent.show();
    QtPrompts prompts;
    QTimer::singleShot(0, [&] {
        auto* box = parent.findChild<QMessageBox*>();
        QVERIFY(box);
        QCOMPARE(box->text(), QStringLiteral("确定要删除这条失败的任务？"));
        // Both lines are shown as written, markup and all.
        int marked = 0;
        for (const QLabel* label : box->findChildren<QLabel*>()) {
            if (label->text().contains(QLatin1Char('<'))) {
                QCOMPARE(label->textFormat(), Qt::PlainText);
                ++marked;
            }
        }
        QCOMPARE(marked, 1);
        if (click < 0)
            QTest::keyClick(box, Qt::Key_Escape);
        if (click >= 0) {
            for (QAbstractButton* b : box->buttons()) {
                if (b->text() == (click == 0 ? QStringLiteral("删除") : QStringLiteral("算了")))
                    b->click();

            }
        }
    });
    const int answer = QCoro::waitFor(prompts.alert(
        &parent, {QStringLiteral("确定要删除这条失败的任务？"), QStringLiteral("<a href=\"x\">x</a>"), {"删除", "算了"}}));
    QCOMPARE(answer, expected);
}

void TestPrompts::folderPickerCancelled()
{
    QWidget parent;
    parent.show();
    QtPrompts prompts;
    QTimer::singleShot(0, [&] {
        auto* dialog = parent.findChild<QFileDialog*>();
        QVERIFY(dialog);
        QCOMPARE(dialog->labelText(QFileDialog::Accept), QStringLiteral("配对"));
        dialog->reject();
    });
    QCOMPARE(QCoro::waitFor(prompts.pickFolder(&parent, QStringLiteral("配对"), QString())), std::nullopt);
}

void TestPrompts::scriptedAnswersInOrder()
{
    ScriptedPrompts p;
    p.alertAnswers = {0};
    p.folderAnswers = {QStringLiteral("/tmp/x")};
    QCOMPARE(QCoro::waitFor(p.alert(nullptr, {QStringLiteral("a")})), 0);
    QCOMPARE(QCoro::waitFor(p.alert(nullptr, {QStringLiteral("b")})), -1);
    QCOMPARE(QCoro::waitFor(p.pickFolder(nullptr, QStringLiteral("配对"), {})), std::optional<QString>("/tmp/x"));
    QCOMPARE(QCoro::waitFor(p.pickFolder(nullptr, QStringLiteral("配对"), {})), std::nullopt);
    QCOMPARE(p.alertsShown.size(), 2);
    QCOMPARE(p.folderPrompts, QStringList({"配对", "配对"}));
}

QTEST_MAIN(TestPrompts)
#include "tst_Prompts.moc"
