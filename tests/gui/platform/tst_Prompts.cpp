#include "core/platform/QtTranslations.h"
#include "gui/platform/Prompts.h"

#include "TempHome.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QtTest>

#include <QCoroTask>

namespace {

// The texts on the buttons and labels of a dialog, mnemonics dropped.
QStringList textsOf(const QWidget* dialog)
{
    QStringList texts;
    for (const QAbstractButton* b : dialog->findChildren<QAbstractButton*>())
        texts << b->text().remove(QLatin1Char('&'));
    for (const QLabel* l : dialog->findChildren<QLabel*>())
        texts << l->text().remove(QLatin1Char('&'));
    return texts;
}

} // namespace

// The standard dialogs behind Prompts speak the window's language, and the
// folder picker opens where it is asked to.
class TestPrompts : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        const QString qm = QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_zh_CN.qm");
        if (!QFileInfo::exists(qm))
            QSKIP("Qt's translations are not installed (scripts/deps installs them)");
        QVERIFY(QtTranslations::install(*qApp));
    }

    // The folder picker itself: Chinese texts, the prompt on its confirm button, the start folder.
    void folderPickerDialog()
    {
        TempHome home;
        const QString start = home.filePath(QStringLiteral("projects"));
        QVERIFY(QDir().mkpath(start));
        QtPrompts prompts;
        auto picking = prompts.pickFolder(nullptr, QStringLiteral("配对"), start);
        QFileDialog* dialog = nullptr;
        QTRY_VERIFY((dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) != nullptr);
        QCOMPARE(QDir(dialog->directory()).absolutePath(), QDir(start).absolutePath());
        const QStringList texts = textsOf(dialog);
        QVERIFY2(texts.contains(QStringLiteral("配对")), qPrintable(texts.join(QLatin1Char('|'))));
        for (const char* english : { "Cancel", "Look in:", "Directory:", "Files of type:" })
            QVERIFY2(!texts.contains(QLatin1String(english)), english);
        QVERIFY2(texts.contains(QCoreApplication::translate("QPlatformTheme", "Cancel")),
            qPrintable(texts.join(QLatin1Char('|'))));
        dialog->reject();
        QCOMPARE(QCoro::waitFor(std::move(picking)), std::nullopt);
    }

    // A confirmation reads in lines, not a few characters at a time: its
    // explanation gets lines of at least 24 characters (or its longest line).
    // A headline without a break point (a path, an error code) wraps inside
    // itself: the box stays on the screen and shows all of it.
    void confirmationReadsInLines_data()
    {
        QTest::addColumn<QString>("headline");
        QTest::newRow("short") << QStringLiteral("迁移脚本");
        QTest::newRow("long unbroken") << QStringLiteral("Error:ECONNREFUSED/") + QString(300, QLatin1Char('x'));
    }

    void confirmationReadsInLines()
    {
        QFETCH(QString, headline);
        const QString informative = headline + QStringLiteral("\n删掉之后这条记录和它的失败原因都找不回来了。");
        QtPrompts prompts;
        auto asking = prompts.alert(nullptr,
            { QStringLiteral("确定要删除这条失败的任务？"), informative,
                { QStringLiteral("删除"), QStringLiteral("算了") } });
        QMessageBox* box = nullptr;
        QTRY_VERIFY((box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) != nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(box));
        auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
        const QFontMetrics metrics(label->font());
        const int wanted = qMin(metrics.horizontalAdvance(informative.section('\n', 1)),
            metrics.horizontalAdvance(QString(24, QChar(0x5B57))));
        QVERIFY2(label->width() >= wanted, qPrintable(QStringLiteral("%1 < %2").arg(label->width()).arg(wanted)));
        const QRect screen = box->screen()->availableGeometry();
        QVERIFY2(box->frameGeometry().width() <= screen.width(), qPrintable(QString::number(box->width())));
        const QRect shown = metrics.boundingRect(QRect(0, 0, label->width(), 100000), Qt::TextWordWrap, label->text());
        QVERIFY2(shown.width() <= label->width() && shown.height() <= label->height(),
            qPrintable(QStringLiteral("%1×%2 in %3×%4")
                           .arg(shown.width())
                           .arg(shown.height())
                           .arg(label->width())
                           .arg(label->height())));
        box->reject();
        QCoro::waitFor(std::move(asking));
    }
};

QTEST_MAIN(TestPrompts)
#include "tst_Prompts.moc"
