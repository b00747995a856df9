#include "core/workspaces/QRImage.h"

#include "TempHome.h"

#include <QtTest>

#include <map>

namespace {

// An encoder that answers a square of the given width per level (0: fails).
QRImage::Encoder fakeEncoder(std::map<QString, int> widths)
{
    return [widths](const QByteArray&, const QString& level) {
        const auto it = widths.find(level);
        if (it == widths.end() || it->second <= 0)
            return QImage();
        QImage image(it->second, it->second, QImage::Format_Grayscale8);
        image.fill(255);
        return image;
    };
}

QImage solidLogo(QColor color)
{
    QImage logo(64, 64, QImage::Format_ARGB32);
    logo.fill(color);
    return logo;
}

// Decodes the image with zbar; the decoded text, or a null string.
QString zbarDecode(const QImage& image)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("code.png"));
    if (!image.save(file))
        return {};
    QProcess zbar;
    zbar.start(QStringLiteral("zbarimg"), { QStringLiteral("--quiet"), QStringLiteral("--raw"), file });
    if (!zbar.waitForFinished(60000) || zbar.exitStatus() != QProcess::NormalExit || zbar.exitCode() != 0)
        return {};
    QString out = QString::fromUtf8(zbar.readAllStandardOutput());
    if (out.endsWith(QLatin1Char('\n')))
        out.chop(1);
    return out;
}

QString pairingLink(int tokenLength)
{
    return QStringLiteral("tolvarine://pair-device?v=1&device=cli-build-host&api=http://192.168.1.20:18091#p=")
        + QString(tokenLength, QLatin1Char('k'));
}

} // namespace

class TestQRImage : public QObject {
    Q_OBJECT
private slots:
    void geometry_data()
    {
        QTest::addColumn<double>("side");
        QTest::addColumn<int>("modules");
        QTest::addColumn<double>("margin");
        QTest::addColumn<double>("mm");
        QTest::newRow("330/101 accepted") << 330.0 << 101 << 17.0 << 0.6052;
        QTest::newRow("250 floor rounds half up") << 250.0 << 200 << 8.0 << 0.2416;
    }

    void geometry()
    {
        QFETCH(double, side);
        QFETCH(int, modules);
        QFETCH(double, margin);
        QFETCH(double, mm);
        const auto g = QRImage::geometry(side, modules);
        QCOMPARE(g.margin, margin);
        QCOMPARE(g.inner, side - 2 * margin);
        QVERIFY2(qAbs(g.moduleMM - mm) < 0.0001, qPrintable(QString::number(g.moduleMM)));
    }

    void choose_data()
    {
        QTest::addColumn<double>("side");
        QTest::addColumn<int>("h");
        QTest::addColumn<int>("q");
        QTest::addColumn<int>("m");
        QTest::addColumn<int>("l");
        QTest::addColumn<QString>("level"); // empty: no result
        QTest::addColumn<double>("fraction");
        QTest::newRow("small payload takes H with the big logo") << 330.0 << 33 << 29 << 25 << 25 << "H" << 0.22;
        QTest::newRow("H too dense, Q fits") << 330.0 << 102 << 101 << 97 << 93 << "Q" << 0.18;
        QTest::newRow("L is never given a logo") << 330.0 << 120 << 110 << 105 << 101 << "L" << 0.0;
        QTest::newRow("all too dense: last encoded, no logo") << 200.0 << 100 << 100 << 100 << 100 << "L" << 0.0;
        QTest::newRow("L alone fails: M without logo") << 200.0 << 109 << 105 << 101 << 0 << "M" << 0.0;
        QTest::newRow("nothing encodes") << 330.0 << 0 << 0 << 0 << 0 << "" << 0.0;
    }

    void choose()
    {
        QFETCH(double, side);
        QFETCH(int, h);
        QFETCH(int, q);
        QFETCH(int, m);
        QFETCH(int, l);
        QFETCH(QString, level);
        QFETCH(double, fraction);
        const auto encoder = fakeEncoder({ { "H", h }, { "Q", q }, { "M", m }, { "L", l } });
        const auto table = QRImage::levelsFor(1.0);
        const auto choice = QRImage::choose(QStringLiteral("x"), side, encoder, table);
        QCOMPARE(choice.has_value(), !level.isEmpty());
        if (!choice)
            return;
        QCOMPARE(choice->level.name, level);
        QCOMPARE(choice->level.logoFraction, fraction);
        QCOMPARE(QRImage::moduleMM(QStringLiteral("x"), side, encoder, table).value_or(0),
            QRImage::geometry(side, choice->bitmap.width()).moduleMM);
    }

    void storedSettings_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored"); // invalid: not set
        QTest::addColumn<double>("expected"); // the side (0: none) or the logo scale
        const QString side = QStringLiteral("QRSizeOverride");
        const QString logo = QStringLiteral("QRLogoRatio");
        QTest::newRow("side missing") << side << QVariant() << 0.0;
        QTest::newRow("side just below") << side << QVariant(199.9) << 0.0;
        QTest::newRow("side not a number") << side << QVariant(QStringLiteral("big")) << 0.0;
        QTest::newRow("side written as text") << side << QVariant(QStringLiteral("480")) << 480.0;
        QTest::newRow("logo missing") << logo << QVariant() << 1.0;
        QTest::newRow("logo below range") << logo << QVariant(0.03) << 0.06 / 0.14;
        QTest::newRow("logo above range") << logo << QVariant(0.2) << 1.0;
    }

    void storedSettings()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        QFETCH(double, expected);
        TempHome home;
        if (stored.isValid())
            QSettings().setValue(key, stored);
        if (key == QLatin1String("QRSizeOverride")) {
            QCOMPARE(QRImage::sideOverride().value_or(0), expected);
            return;
        }
        QVERIFY(qAbs(QRImage::logoScale() - expected) < 1e-9);
        // The scale shrinks every logo; the weakest level never has one.
        const auto table = QRImage::levelsFor(QRImage::logoScale());
        QVERIFY(qAbs(table[0].logoFraction - 0.22 * expected) < 1e-9);
        QCOMPARE(table[3].logoFraction, 0.0);
    }

    void texts()
    {
        QCOMPARE(QRImage::diagnosticLine(330.7, 57, QStringLiteral("H"), 0.987, 0.22, 180),
            QStringLiteral("[PAIR_QR_IMAGE] side=330 modules=57 correction=H mm_per_module=0.99 logo=yes(0.220) "
                           "payload_length=180"));
        QCOMPARE(QRImage::densityWarning(0.52),
            QStringLiteral(
                "工作区较多，这张码偏密（每格约 0.52mm，相机大约要 0.60mm）。扫不动就用下面的「复制链接」。"));
    }

    void decodesToTheLink_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<qreal>("ratio");
        QTest::addColumn<QString>("level");
        // The default sheet at ratio 1 is read back by the pairing view's own test.
        QTest::newRow("high density screen") << pairingLink(43) << qreal(2) << "H";
        QTest::newRow("long link, weakest level") << pairingLink(700) << qreal(1) << "L";
    }

    void decodesToTheLink()
    {
        QFETCH(QString, link);
        QFETCH(qreal, ratio);
        const double side = 330;
        QFETCH(QString, level);

        QRImage::RenderOptions options;
        options.logo = solidLogo(Qt::red);
        options.devicePixelRatio = ratio;
        QStringList lines;
        options.diagnostic = [&lines](const QString& line) { lines << line; };
        const QImage image = QRImage::make(link, side, options);
        QVERIFY(!image.isNull());
        QCOMPARE(image.width(), qCeil(side * ratio));
        QCOMPARE(image.height(), image.width());
        QCOMPARE(image.devicePixelRatio(), ratio);

        // One diagnostic line per image, naming the level chosen.
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().contains(QStringLiteral(" correction=") + level + QLatin1Char(' ')),
            qPrintable(lines.first()));

        // The quiet margin is white; the logo plate sits in the middle exactly
        // when the level leaves room for it.
        QCOMPARE(image.pixelColor(1, 1), QColor(Qt::white));
        QCOMPARE(image.pixelColor(image.width() - 2, image.height() - 2), QColor(Qt::white));
        const QColor centre = image.pixelColor(image.width() / 2, image.height() / 2);
        QCOMPARE(centre == QColor(Qt::red), level != QLatin1String("L"));

        QCOMPARE(zbarDecode(image), link);
    }

    void noImageWhenNothingEncodes()
    {
        QRImage::RenderOptions options;
        options.encoder = fakeEncoder({});
        QStringList lines;
        options.diagnostic = [&lines](const QString& line) { lines << line; };
        QVERIFY(QRImage::make(QStringLiteral("x"), 330, options).isNull());
        QVERIFY(lines.isEmpty());
        QVERIFY(QRImage::make(pairingLink(10), 0, {}).isNull());
        QVERIFY(QRImage::make(pairingLink(10), qQNaN(), {}).isNull());
    }
};

QTEST_MAIN(TestQRImage)
#include "tst_QRImage.moc"
