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
        QTest::addColumn<int>("length");
        const QString family = QStringLiteral("👨‍👩‍👧");
        const QString flag = QStringLiteral("🇨🇳");
        const QString accent = QStringLiteral("e\u0301");
        const auto add
            = [](const char* name, const QString& text, int count, const QString& leading, const QString& trailing,
                  int length) { QTest::newRow(name) << text << count << leading << trailing << length; };
        add("plain", "abcdef", 2, "ab", "ef", 6);
        add("shorter than the count", "ab", 5, "ab", "ab", 2);
        add("none", "abc", 0, "", "", 3);
        add("empty", "", 2, "", "", 0);
        add("joined emoji stay whole", family + "x" + family, 1, family, family, 3);
        add("flags stay whole", flag + flag + flag, 2, flag + flag, flag + flag, 3);
        add("marks stay with their letter", accent + "b" + accent, 1, accent, accent, 3);
        add("surrogate pairs", QStringLiteral("😀中😀"), 2, QStringLiteral("😀中"), QStringLiteral("中😀"), 3);
    }

    void cuts()
    {
        QFETCH(QString, text);
        QFETCH(int, count);
        QFETCH(QString, leading);
        QFETCH(QString, trailing);
        QFETCH(int, length);
        QCOMPARE(Graphemes::leading(text, count), leading);
        QCOMPARE(Graphemes::trailing(text, count), trailing);
        QCOMPARE(Graphemes::count(text), length);
    }
};

QTEST_GUILESS_MAIN(TestGraphemes)
#include "tst_Graphemes.moc"
