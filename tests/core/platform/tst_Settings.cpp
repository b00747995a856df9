#include "core/platform/Settings.h"

#include "TempHome.h"

#include <QFile>
#include <QSettings>
#include <QtTest>

#include <functional>

namespace {

// One entry of the table seen through QVariant (none: an invalid QVariant).
struct Probe {
    std::function<QVariant(const QSettings&)> read;
    std::function<void(QSettings&)> writeSample;
};

template <typename T> QVariant toVariant(const T& value)
{
    return QVariant::fromValue(value);
}

template <typename T> QVariant toVariant(const std::optional<T>& value)
{
    return value ? QVariant::fromValue(*value) : QVariant();
}

template <typename T> Probe probe(const Settings::Entry<T>& entry, T sample)
{
    return Probe { [entry](const QSettings& s) { return toVariant(entry.read(s)); },
        [entry, sample](QSettings& s) { entry.write(s, sample); } };
}

} // namespace

Q_DECLARE_METATYPE(Probe)

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void defaultsAndTypes_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<Probe>("entry");
        QTest::addColumn<QVariant>("fallback");
        QTest::addColumn<QVariant>("sample");
        const auto add = [](const auto& entry, auto sample, const QVariant& fallback) {
            QTest::newRow(entry.key) << QString::fromLatin1(entry.key) << probe(entry, sample) << fallback
                                     << toVariant(sample);
        };
        add(Settings::workspaceSelection, QStringLiteral("ws-1"), QString());
        add(Settings::reduceMotion, std::optional<bool>(true), QVariant());
        add(Settings::qrSizeOverride, std::optional<double>(480.5), QVariant());
        add(Settings::qrLogoRatio, 0.1, 0.14);
    }

    void defaultsAndTypes()
    {
        QFETCH(QString, key);
        QFETCH(Probe, entry);
        QFETCH(QVariant, fallback);
        QFETCH(QVariant, sample);
        TempHome home;
        QSettings settings;
        QCOMPARE(Settings::filePath(), settings.fileName()); // found without opening it
        QCOMPARE(entry.read(settings), fallback);

        // A value of another kind reads as the default.
        settings.setValue(key, QVariantMap { { QStringLiteral("x"), 1 } });
        QCOMPARE(entry.read(settings), fallback);

        entry.writeSample(settings);
        QCOMPARE(entry.read(settings), sample);
        // The file holds text: read afresh from a copy, the value comes back the same.
        settings.sync();
        const QString copy = home.filePath(QStringLiteral("copy.conf"));
        QVERIFY(QFile::copy(settings.fileName(), copy));
        QCOMPARE(entry.read(QSettings(copy, QSettings::IniFormat)), sample);
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_Settings.moc"
