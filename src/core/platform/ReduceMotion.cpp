#include "core/platform/ReduceMotion.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QPointer>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>

#include <atomic>

namespace {

// -1: no override, 0: off, 1: on.
std::atomic<int> g_override { -1 };

// The value as last read, for the configuration folder it was read from; a
// change to any file it came from (or to where such a file could appear)
// makes the next call read again.
struct Cache {
    QString config;
    bool valid = false;
    bool value = false;
    QPointer<QFileSystemWatcher> watcher;
};

Cache& cache()
{
    static Cache c;
    return c;
}

QStringList desktopFiles(const QString& config)
{
    const QDir dir(config);
    return { dir.filePath(QStringLiteral("gtk-4.0/settings.ini")), dir.filePath(QStringLiteral("gtk-3.0/settings.ini")),
        dir.filePath(QStringLiteral("kdeglobals")) };
}

std::optional<bool> fromDesktopFiles(const QString& config)
{
    const QStringList files = desktopFiles(config);
    for (const QString& path : { files.at(0), files.at(1) }) {
        if (!QFile::exists(path) || Settings::whyNotOpened(path))
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
    const QString& kde = files.at(2);
    if (QFile::exists(kde) && !Settings::whyNotOpened(kde)) {
        QSettings ini(kde, QSettings::IniFormat);
        bool ok = false;
        const double factor = ini.value(QStringLiteral("KDE/AnimationDurationFactor")).toDouble(&ok);
        if (ok)
            return factor == 0.0;
    }
    return std::nullopt;
}

bool read(const QString& config)
{
    if (const std::optional<bool> own = Settings::reduceMotion.read())
        return *own;
    return fromDesktopFiles(config).value_or(false);
}

// Watches each file that exists, and the nearest existing folder on the way
// to each, where a file appears or is replaced.
void watch(Cache& c, const QStringList& files)
{
    if (!c.watcher) {
        c.watcher = new QFileSystemWatcher(QCoreApplication::instance());
        const auto stale = [] { cache().valid = false; };
        QObject::connect(c.watcher, &QFileSystemWatcher::fileChanged, c.watcher, stale);
        QObject::connect(c.watcher, &QFileSystemWatcher::directoryChanged, c.watcher, stale);
    }
    const QStringList old = c.watcher->files() + c.watcher->directories();
    if (!old.isEmpty())
        c.watcher->removePaths(old);
    QStringList paths;
    for (const QString& file : files) {
        if (QFileInfo::exists(file))
            paths.append(file);
        QString dir = QFileInfo(file).absolutePath();
        while (!QFileInfo::exists(dir) && dir != QFileInfo(dir).absolutePath())
            dir = QFileInfo(dir).absolutePath();
        paths.append(dir);
    }
    paths.removeDuplicates();
    c.watcher->addPaths(paths);
}

} // namespace

bool ReduceMotion::enabled()
{
    const int forced = g_override.load();
    if (forced >= 0)
        return forced == 1;
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const QCoreApplication* app = QCoreApplication::instance();
    // Only the GUI thread keeps a watcher; anywhere else the files are read.
    if (!app || QThread::currentThread() != app->thread())
        return read(config);
    Cache& c = cache();
    if (c.valid && c.config == config)
        return c.value;
    c.config = config;
    c.value = read(config);
    c.valid = true;
    watch(c, QStringList { Settings::filePath() } + desktopFiles(config));
    return c.value;
}

void ReduceMotion::setOverride(std::optional<bool> value)
{
    g_override.store(value ? (*value ? 1 : 0) : -1);
}
