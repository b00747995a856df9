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
        QTest::addColumn<QString>("cut");
        const QString family = QStringLiteral("👨‍👩‍👧");
        const QString flag = QStringLiteral("🇨🇳");
        const QString accent = QStringLiteral("e\u0301");
        // A letter with more marks than a character usually takes.
        const QString heavy = QStringLiteral("e") + QString(20, QChar(0x0301));
        // Past the bound a character keeps its first code units only.
        const auto marks = [](qsizetype n) { return QString(n, QChar(0x0301)); };
        const QString z = QStringLiteral("Z") + marks(Graphemes::kCharacterUnits - 1);
        const auto add = [](const char* name, const QString& text, int count, const QString& leading,
                             const QString& trailing, int length, const QString& cut) {
            QTest::newRow(name) << text << count << leading << trailing << length << cut;
        };
        add("plain", "abcdef", 2, "ab", "ef", 6, "ab…");
        add("shorter than the count", "ab", 5, "ab", "ab", 2, "ab");
        add("as long as the count", "abc", 3, "abc", "abc", 3, "abc");
        add("none", "abc", 0, "", "", 3, "…");
        add("empty", "", 2, "", "", 0, "");
        add("joined emoji stay whole", family + "x" + family, 1, family, family, 3, family + "…");
        add("flags stay whole", flag + flag + flag, 2, flag + flag, flag + flag, 3, flag + flag + "…");
        add("marks stay with their letter", accent + "b" + accent, 1, accent, accent, 3, accent + "…");
        add("surrogate pairs", QStringLiteral("😀中😀"), 2, QStringLiteral("😀中"), QStringLiteral("中😀"), 3,
            QStringLiteral("😀中…"));
        add("long characters", heavy + heavy + heavy, 2, heavy + heavy, heavy + heavy, 3, heavy + heavy + "…");
        add("fewer long characters than the count", heavy + heavy, 3, heavy + heavy, heavy + heavy, 2, heavy + heavy);
        add("a character past the bound", "Z" + marks(40) + "bc", 2, z + "b", "bc", 3, z + "b…");
        add("one character of any length", "Z" + marks(2000000), 4000, z, marks(Graphemes::kCharacterUnits), 1,
            z + "…");
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
        QFETCH(QString, cut);
        QCOMPARE(Graphemes::cut(text, count), cut);
    }
};

QTEST_GUILESS_MAIN(TestGraphemes)
#include "tst_Graphemes.moc"
