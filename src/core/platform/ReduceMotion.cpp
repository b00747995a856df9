#include "core/platform/ReduceMotion.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

#include <atomic>

namespace {

// -1: no override, 0: off, 1: on.
std::atomic<int> g_override { -1 };

std::optional<bool> fromDesktopFiles()
{
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    for (const char* gtk : { "gtk-4.0/settings.ini", "gtk-3.0/settings.ini" }) {
        const QString path = QDir(config).filePath(QLatin1String(gtk));
        if (!QFile::exists(path))
            continue;
        QSettings ini(path, QSettings::IniFormat);
        const QVariant v = ini.value(QStringLiteral("Settings/gtk-enable-animations"));
        if (v.isValid()) {
            const QString s = v.toString().trimmed().toLower();
            if (s == QLatin1String("false") || s == QLatin1String("0"))
                return true;
            if (s == QLatin1String("true") || s == QLatin1String("1"))
                return false;
        }
    }
    const QString kde = QDir(config).filePath(QStringLiteral("kdeglobals"));
    if (QFile::exists(kde)) {
        QSettings ini(kde, QSettings::IniFormat);
        bool ok = false;
        const double factor = ini.value(QStringLiteral("KDE/AnimationDurationFactor")).toDouble(&ok);
        if (ok)
            return factor == 0.0;
    }
    return std::nullopt;
}

} // namespace

bool ReduceMotion::enabled()
{
    const int forced = g_override.load();
    if (forced >= 0)
        return forced == 1;
    QSettings settings;
    const QVariant own = settings.value(QLatin1String(kSettingsKey));
    if (own.isValid() && own.canConvert<bool>())
        return own.toBool();
    return fromDesktopFiles().value_or(false);
}

void ReduceMotion::setOverride(std::optional<bool> value)
{
    g_override.store(value ? (*value ? 1 : 0) : -1);
}
