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
};

void TestPrompts::alertReturnsTheClickedButton_data()
{
    QTest::addColumn<QString>("click"); // empty: close with Escape
    QTest::addColumn<int>("expected");
    QTest::newRow("confirm") << QStringLiteral("删除") << 0;
    QTest::newRow("escape") << QString() << 1; // the last button cancels
}

void TestPrompts::alertReturnsTheClickedButton()
{
    QFETCH(QString, click);
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
        if (click.isEmpty()) {
            QTest::keyClick(box, Qt::Key_Escape);
            return;
        }
        for (QAbstractButton* b : box->buttons()) {
            if (b->text() == click)
                b->click();
        }
    });
    const int answer = QCoro::waitFor(prompts.alert(&parent,
        { QStringLiteral("确定要删除这条失败的任务？"), QStringLiteral("<a href=\"x\">x</a>"), { "删除", "算了" } }));
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

QTEST_MAIN(TestPrompts)
#include "tst_Prompts.moc"
