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
};

QTEST_MAIN(TestPrompts)
#include "tst_Prompts.moc"
