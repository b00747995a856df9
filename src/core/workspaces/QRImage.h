#pragma once

#include <QByteArray>
#include <QImage>
#include <QPainter>
#include <QRectF>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

// The phone pairing QR image: the strongest error-correction level whose
// modules still come out at least 0.6 mm wide on screen, a quiet margin, and
// the application icon on a white plate when the level leaves room for it.
// Pure image work; the view that shows it lives with the pairing section.
namespace QRImage {

inline constexpr double kMarginModules = 5.0;
inline constexpr double kMarginFloor = 0.03;
inline constexpr double kMillimetresPerPoint = 0.2065040650406504; // 25.4 / 123
inline constexpr double kMinimumModuleMM = 0.6;
inline constexpr int kMinimumRenderScale = 8;
inline constexpr double kPlateFactor = 1.24;
inline constexpr double kLogoCornerFactor = 0.22;
inline constexpr double kShownCornerRadius = 8;
inline constexpr double kViewSpacing = 6;
inline constexpr double kDefaultSide = 330;

struct Level {
    QString name; // "H", "Q", "M" or "L", handed to the encoder
    double logoFraction; // logo edge over the drawn code's edge; 0: no logo
    bool operator==(const Level&) const = default;
};

// The four levels in the order they are tried, for a logo scale.
std::vector<Level> levelsFor(double logoScale);
// The table of this process: built on first use with logoScale() read then.
const std::vector<Level>& levels();

// "QRSizeOverride": a number from 200 to 760 inclusive, else none.
std::optional<double> sideOverride();
// "QRLogoRatio" (default 0.14) clamped to 0.06..0.14, divided by 0.14.
double logoScale();

// Where a code of `modules` modules sits in a square of edge `side`.
struct Geometry {
    double margin = 0; // whole points of quiet margin on each side
    double inner = 0; // edge of the drawn code
    double moduleMM = 0;
};
Geometry geometry(double side, int modules);

using Encoder = std::function<QImage(const QByteArray& payload, const QString& level)>;

struct Choice {
    QImage bitmap; // one pixel per module
    Level level;
};
// The first level in table order whose modules reach 0.6 mm; else the last
// level that encoded at all, without a logo; else none.
std::optional<Choice> choose(
    const QString& text, double side, const Encoder& encoder = {}, const std::vector<Level>& table = levels());
std::optional<double> moduleMM(
    const QString& text, double side, const Encoder& encoder = {}, const std::vector<Level>& table = levels());

struct RenderOptions {
    Encoder encoder; // empty: libqrencode
    std::optional<QImage> logo; // none: the application's icon
    qreal devicePixelRatio = 1;
    // Receives the "[PAIR_QR_IMAGE]" line; empty: standard output.
    std::function<void(const QString&)> diagnostic;
};
// The finished square image of edge `side` points; null when no level
// encodes or the enlarged code cannot be made.
QImage make(const QString& text, double side, const RenderOptions& options = {});

// Plate and logo squares centred in `r` for a logo fraction.
struct LogoGeometry {
    QRectF plate;
    double plateRadius = 0;
    QRectF logo;
    double logoRadius = 0;
};
LogoGeometry logoGeometry(const QRectF& r, double fraction);
void drawLogo(QPainter& painter, const QImage& logo, const QRectF& r, double fraction);

// The application's icon, or a null image when it has none.
QImage applicationIcon();

QString diagnosticLine(
    double side, int modules, const QString& level, double mmPerModule, double logoFraction, qsizetype payloadLength);

// Shown under the image when even the weakest level is too dense.
QString densityWarning(double mmPerModule);
// Shown instead of the image when none could be made.
QString failureTitle();
QString failureHint();

} // namespace QRImage
