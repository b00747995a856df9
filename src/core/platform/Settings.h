#pragma once

#include <QString>
#include <QStringView>

#include <memory>
#include <optional>

class QSettings;

// Every user default the application keeps (QSettings, organisation
// "Tolvarine", application "Tolvarine Desktop"), each with its type and the
// value a read gives when the file holds nothing readable as that type. The
// keys are kept verbatim: users have values stored under them.
namespace Settings {

// The application's settings file, where QSettings keeps it, found without
// opening it.
QString filePath();
// QSettings reads its files whole as it is made, on the thread that makes
// it: a pipe in a file's place would hold that thread until someone writes to
// it, a huge file for as long as it takes. Why the settings file at `path` is
// not to be opened (none when it may be, or is missing) ...
std::optional<QString> whyNotOpened(const QString& path = filePath());
// ... and the settings themselves, the application's (its own file and the
// organisation's) or those in `file`; none when a file is not to be opened.
std::unique_ptr<QSettings> open();
std::unique_ptr<QSettings> open(const QString& file);

template <typename T> struct FallbackOf {
    using type = T;
};
// Text defaults are literals, so that the table stays constant.
template <> struct FallbackOf<QString> {
    using type = QStringView;
};

template <typename T> struct Entry {
    const char* key;
    typename FallbackOf<T>::type fallback;

    // Through the given settings (another file, another thread's object) ...
    T read(const QSettings& settings) const;
    // ... or the application's own (the fallback when they are not to be opened).
    T read() const;
    // A value of an optional type that is none removes the key.
    void write(QSettings& settings, const T& value) const;
    void write(const T& value) const;
};

extern template struct Entry<QString>;
extern template struct Entry<std::optional<bool>>;
extern template struct Entry<std::optional<double>>;
extern template struct Entry<double>;

// The workspace the user is looking at (its id); only text counts.
inline constexpr Entry<QString> workspaceSelection { "tolvarine.desktop.workspace", u"" };
// The user's own wish for less motion, over the desktop's; anything that
// converts to a switch counts.
inline constexpr Entry<std::optional<bool>> reduceMotion { "reduceMotion", std::nullopt };
// The side of the pairing QR image, and the share of it the logo may cover.
// Numbers; the settings file stores text, so a text that reads wholly as a
// finite number counts too.
inline constexpr Entry<std::optional<double>> qrSizeOverride { "QRSizeOverride", std::nullopt };
inline constexpr Entry<double> qrLogoRatio { "QRLogoRatio", 0.14 };

} // namespace Settings
