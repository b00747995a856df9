#include "core/platform/Graphemes.h"

#include <QtTest>

class TestGraphemes : public QObject {
    Q_OBJECT
private slots:
    void cuts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("leading");
        QTest::addColumn<QString>("trailing");
        const QString family = QStringLiteral("👨‍👩‍👧");
        const QString flag = QStringLiteral("🇨🇳");
        const QString accent = QStringLiteral("e\u0301");
        const auto add = [](const char* name, const QString& text, int count, const QString& leading,
                             const QString& trailing) { QTest::newRow(name) << text << count << leading << trailing; };
        add("plain", "abcdef", 2, "ab", "ef");
        add("shorter than the count", "ab", 5, "ab", "ab");
        add("none", "abc", 0, "", "");
        add("joined emoji stay whole", family + "x" + family, 1, family, family);
        add("flags stay whole", flag + flag + flag, 2, flag + flag, flag + flag);
        add("marks stay with their letter", accent + "b" + accent, 1, accent, accent);
        add("surrogate pairs", QStringLiteral("😀中😀"), 2, QStringLiteral("😀中"), QStringLiteral("中😀"));
    }

    void cuts()
    {
        QFETCH(QString, text);
        QFETCH(int, count);
        QFETCH(QString, leading);
        QFETCH(QString, trailing);
        QCOMPARE(Graphemes::leading(text, count), leading);
        QCOMPARE(Graphemes::trailing(text, count), trailing);
    }
};

QTEST_GUILESS_MAIN(TestGraphemes)
#include "tst_Graphemes.moc"
