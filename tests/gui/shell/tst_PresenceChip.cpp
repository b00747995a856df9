#include "gui/shell/PresenceChip.h"

#include <QTextDocument>
#include <QtTest>

class TestPresenceChip : public QObject {
    Q_OBJECT
private slots:
    void toolTipShowsTheTextAsItIs_data();
    void toolTipShowsTheTextAsItIs();
};

void TestPresenceChip::toolTipShowsTheTextAsItIs_data()
{
    QTest::addColumn<QString>("reason");
    QTest::newRow("plain") << QStringLiteral("连不上网关");
    QTest::newRow("markup from the gateway") << QStringLiteral("<b>bad</b> <img src=\"x\"> & <a href=\"y\">z</a>");
    QTest::newRow("entity") << QStringLiteral("a &amp; b");
}

// The reason is the gateway's text: whatever markup it holds is shown, never rendered.
void TestPresenceChip::toolTipShowsTheTextAsItIs()
{
    QFETCH(QString, reason);
    PresenceChip chip;
    const AgentPresence presence = AgentPresence::unknown(reason);
    chip.setPresence(presence);
    QTextDocument shown;
    if (Qt::mightBeRichText(chip.toolTip()))
        shown.setHtml(chip.toolTip());
    else
        shown.setPlainText(chip.toolTip());
    QCOMPARE(shown.toPlainText(), PresenceChip::presenceText(presence));
    QCOMPARE(chip.text(), PresenceChip::presenceText(presence));
}

QTEST_MAIN(TestPresenceChip)
#include "tst_PresenceChip.moc"
