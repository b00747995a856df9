#include "core/platform/Settings.h"

#include "core/platform/JsonFile.h"

#include <QCoreApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QVariant>

#include <cmath>
#include <type_traits>

namespace {

std::optional<double> number(const QVariant& v)
{
    double d = 0;
    bool ok = false;
    switch (v.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        d = v.toDouble(&ok);
        break;
    case QMetaType::QString:
    case QMetaType::QByteArray:
        d = v.toString().trimmed().toDouble(&ok);
        break;
    default:
        return std::nullopt;
    }
    if (!ok || !std::isfinite(d))
        return std::nullopt;
    return d;
}

template <typename T> struct IsOptional : std::false_type {
};
template <typename T> struct IsOptional<std::optional<T>> : std::true_type {
};

} // namespace

namespace Settings {

namespace {
QString userFile(const QString& name)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/')
        + QCoreApplication::organizationName() + QLatin1Char('/') + name + QStringLiteral(".conf");
}
} // namespace

QString filePath()
{
    return userFile(QCoreApplication::applicationName());
}

std::optional<QString> whyNotOpened(const QString& path)
{
    return JsonFile::whyNotOpened(path);
}

std::unique_ptr<QSettings> open()
{
    // The organisation's file too: QSettings falls back on it.
    for (const QString& file : { filePath(), userFile(QCoreApplication::organizationName()) }) {
        if (whyNotOpened(file))
            return nullptr;
    }
    return std::make_unique<QSettings>();
}

std::unique_ptr<QSettings> open(const QString& file)
{
    if (whyNotOpened(file))
        return nullptr;
    return std::make_unique<QSettings>(file, QSettings::NativeFormat);
}

template <typename T> T Entry<T>::read(const QSettings& settings) const
{
    const QVariant v = settings.value(QLatin1String(key));
    if constexpr (std::is_same_v<T, QString>) {
        return v.typeId() == QMetaType::QString ? v.toString() : fallback.toString();
    } else if constexpr (std::is_same_v<T, std::optional<bool>>) {
        if (v.isValid() && v.canConvert<bool>())
            return v.toBool();
        return fallback;
    } else if constexpr (std::is_same_v<T, std::optional<double>>) {
        const std::optional<double> d = number(v);
        return d ? d : fallback;
    } else {
        static_assert(std::is_same_v<T, double>);
        return number(v).value_or(fallback);
    }
}

template <typename T> T Entry<T>::read() const
{
    const std::unique_ptr<QSettings> settings = open();
    if (!settings) {
        if constexpr (std::is_same_v<T, QString>)
            return fallback.toString();
        else
            return fallback;
    }
    return read(*settings);
}

template <typename T> void Entry<T>::write(QSettings& settings, const T& value) const
{
    if constexpr (IsOptional<T>::value) {
        if (!value) {
            settings.remove(QLatin1String(key));
            return;
        }
        settings.setValue(QLatin1String(key), *value);
    } else {
        settings.setValue(QLatin1String(key), value);
    }
}

template <typename T> void Entry<T>::write(const T& value) const
{
    if (const std::unique_ptr<QSettings> settings = open())
        write(*settings, value);
}

template struct Entry<QString>;
template struct Entry<std::optional<bool>>;
template struct Entry<std::optional<double>>;
template struct Entry<double>;

} // namespace Settings
