#include "TempHome.h"
#include "core/design/CardStyle.h"
#include "core/design/ColumnRule.h"
#include "core/design/DS.h"
#include "core/design/InlineMarkup.h"
#include "core/design/MachineName.h"
#include "core/design/RuntimeUsability.h"
#include "core/design/StatusBadgeLook.h"
#include "core/design/TolvarineStatus.h"
#include "core/platform/ReduceMotion.h"

#include <QSettings>
#include <QtTest>

#include <cmath>
#include <limits>

namespace {

// Colours compared by their 8-bit components and alpha (to 1/255).
bool sameColour(const QColor& a, const QColor& b)
{
    return a.red() == b.red() && a.green() == b.green() && a.blue() == b.blue()
        && std::abs(a.alphaF() - b.alphaF()) < 0.5 / 255 + 1e-4;
}

QString describe(const QColor& c)
{
    return QStringLiteral("rgb(%1,%2,%3) a=%4").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alphaF());
}

} // namespace

#define COMPARE_COLOUR(a, b) QVERIFY2(sameColour((a), (b)), qPrintable(describe(a) + " vs " + describe(b)))

class TestDesignVocabulary : public QObject {
    Q_OBJECT
private slots:
    // The status words are read exactly.
    void statusWords()
    {
        QCOMPARE(TolvarineStatuses::fromRawValue("Runtime Unavailable"), TolvarineStatus::runtimeUnavailable);
        QCOMPARE(TolvarineStatuses::fromRawValue("running"), std::nullopt);
        QCOMPARE(TolvarineStatuses::fromRawValue("Running "), std::nullopt);
    }

    void translucentCardTint()
    {
        // A translucent tint has its own opacity multiplied: 0.5 × 0.13, 0.5 × 0.35.
        const CardStyle::Colors c = CardStyle::colors(DS::at(DS::mint(), 0.5), true);
        COMPARE_COLOUR(c.fill, DS::at(DS::mint(), 0.065));
        COMPARE_COLOUR(c.stroke, DS::at(DS::mint(), 0.175));
        // No tint: the plain card, emphasized or not.
        COMPARE_COLOUR(CardStyle::colors(std::nullopt, true).stroke, DS::hair());
    }

    void runtimeBadge_data()
    {
        QTest::addColumn<RuntimeUsability>("usability");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QColor>("tint");
        QTest::addColumn<QString>("stable");
        const QColor dim = DS::at(DS::amber(), 0.75);
        QTest::newRow("ready") << RuntimeUsability::ready << "可用" << DS::mint() << "ready";
        QTest::newRow("unknown") << RuntimeUsability::unknown << "未知状态" << dim << "unknown";
    }

    void runtimeBadge()
    {
        QFETCH(RuntimeUsability, usability);
        QFETCH(QString, text);
        QFETCH(QColor, tint);
        QFETCH(QString, stable);
        const StatusBadgeLook look = StatusBadgeLook::forRuntime(usability);
        QCOMPARE(look.text, text);
        COMPARE_COLOUR(look.tint, tint);
        QCOMPARE(look.stable, stable);
        QVERIFY(look.hasReading); // never the hollow ring
        // Words are read exactly; anything else is unknown.
        QCOMPARE(RuntimeUsabilities::fromRawValue(stable), usability);
        QCOMPARE(RuntimeUsabilities::fromRawValue(stable.toUpper()), RuntimeUsability::unknown);
    }

    // The widths are walked by the team grid; here the inputs no window gives.
    void columnsAndRows()
    {
        QCOMPARE(ColumnRule::columnCount(std::numeric_limits<double>::quiet_NaN(), 340, 10), 1);
        QCOMPARE(ColumnRule::columnCount(500, 0, 0), 3);
        QCOMPARE(ColumnRule::rows(QList<int> { 0, 1, 2, 3, 4 }, 3), (QList<QList<int>> { { 0, 1, 2 }, { 3, 4 } }));
        QCOMPARE(ColumnRule::rows(QList<int> {}, 2), (QList<QList<int>> {}));
    }

    void inlineMarkup_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("html");
        const QString mono = "<span style=\"font-family:'JetBrains Mono','Noto Sans Mono CJK SC';\">";
        const auto add
            = [](const char* name, const QString& text, const QString& html) { QTest::newRow(name) << text << html; };
        add("bold", "先 **授权** 再跑", "先 <b>授权</b> 再跑");
        add("code", "运行 `brenlow pair`", "运行 " + mono + "brenlow pair</span>");
        add("html in data is escaped", "**<script>alert(1)</script>** & <b>x</b>",
            "<b>&lt;script&gt;alert(1)&lt;/script&gt;</b> &amp; &lt;b&gt;x&lt;/b&gt;");
        add("html in code is escaped", "`<img src=x>`", mono + "&lt;img src=x&gt;</span>");
        add("unpaired bold is literal", "2 ** 3", "2 ** 3");
        add("entity stays text", "&lt;", "&amp;lt;");
    }

    void inlineMarkup()
    {
        QFETCH(QString, text);
        QFETCH(QString, html);
        QCOMPARE(InlineMarkup::toHtml(text), html);
    }

    void reduceMotion()
    {
        TempHome home;
        ReduceMotion::setOverride(std::nullopt);
        QVERIFY(!ReduceMotion::enabled()); // nothing set anywhere: off

        // Read once, and again when a file it comes from changes.
        home.writeFile(".config/gtk-3.0/settings.ini", "[Settings]\ngtk-enable-animations=false\n");
        QTRY_VERIFY(ReduceMotion::enabled());

        QSettings().setValue(ReduceMotion::kSettingsKey, false); // the application's own key wins
        QTRY_VERIFY(!ReduceMotion::enabled());
        QSettings().setValue(ReduceMotion::kSettingsKey, true);
        QTRY_VERIFY(ReduceMotion::enabled());

        ReduceMotion::setOverride(false);
        QVERIFY(!ReduceMotion::enabled());
        ReduceMotion::setOverride(std::nullopt);
        QSettings().remove(ReduceMotion::kSettingsKey);
    }

    void machineName_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("name");
        const auto add = [](const char* name, const char* id, const char* friendly) {
            QTest::newRow(name) << QString(id) << QString(friendly);
        };
        add("desktop local", "desktop-studio-mac.local", "studio mac");
        add("all prefixes", "cli-desktop-agent-mini.local", "mini");
        add("order matters", "agent-cli-x", "cli x");
        add("one suffix", "my.local.local", "my.local");
        add("only prefix", "cli-", "cli-");
        add("edge dashes", "-studio-", "studio");
        add("line break kept", "box\n", "box\n");
    }

    void machineName()
    {
        QFETCH(QString, id);
        QFETCH(QString, name);
        QCOMPARE(MachineName::friendly(id), name);
    }
};

QTEST_GUILESS_MAIN(TestDesignVocabulary)
#include "tst_DesignVocabulary.moc"
