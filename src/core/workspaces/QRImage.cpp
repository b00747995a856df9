#include "core/workspaces/QRImage.h"

#include "core/platform/QrEncoder.h"
#include "core/platform/Settings.h"

#include <QGuiApplication>
#include <QIcon>
#include <QImageReader>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

QImage encodeWith(const QRImage::Encoder& encoder, const QByteArray& payload, const QString& level)
{
    return encoder ? encoder(payload, level) : QrEncoder::encode(payload, level);
}

} // namespace

namespace QRImage {

std::vector<Level> levelsFor(double scale)
{
    return {
        { QStringLiteral("H"), 0.22 * scale },
        { QStringLiteral("Q"), 0.18 * scale },
        { QStringLiteral("M"), 0.14 * scale },
        { QStringLiteral("L"), 0 },
    };
}

const std::vector<Level>& levels()
{
    static const std::vector<Level> table = levelsFor(logoScale());
    return table;
}

std::optional<double> sideOverride()
{
    const std::optional<double> v = Settings::qrSizeOverride.read();
    if (v && *v >= 200 && *v <= 760)
        return v;
    return std::nullopt;
}

double logoScale()
{
    double ratio = Settings::qrLogoRatio.read();
    if (ratio <= 0.06)
        ratio = 0.06;
    else if (ratio > 0.14)
        ratio = 0.14;
    return ratio / 0.14;
}

Geometry geometry(double side, int modules)
{
    Geometry g;
    if (modules <= 0)
        return g;
    const double a = std::ceil(side / modules * kMarginModules);
    const double b = std::round(side * kMarginFloor); // halves away from zero
    g.margin = std::max(a, b);
    g.inner = side - 2 * g.margin;
    g.moduleMM = g.inner / modules * kMillimetresPerPoint;
    return g;
}

std::optional<Choice> choose(const QString& text, double side, const Encoder& encoder, const std::vector<Level>& table)
{
    const QByteArray payload = text.toUtf8();
    std::optional<Choice> fallback;
    for (const Level& level : table) {
        QImage bitmap = encodeWith(encoder, payload, level.name);
        if (bitmap.isNull() || bitmap.width() <= 0)
            continue;
        const Geometry g = geometry(side, bitmap.width());
        fallback = Choice { bitmap, level };
        if (g.moduleMM >= kMinimumModuleMM)
            return fallback;
    }
    if (fallback)
        fallback->level.logoFraction = 0;
    return fallback;
}

std::optional<double> moduleMM(
    const QString& text, double side, const Encoder& encoder, const std::vector<Level>& table)
{
    const auto choice = choose(text, side, encoder, table);
    if (!choice)
        return std::nullopt;
    return geometry(side, choice->bitmap.width()).moduleMM;
}

QImage make(const QString& text, double side, const RenderOptions& options)
{
    // A side no window could show (or NaN) would only overflow the sizes below.
    if (!(side > 0 && side <= 4096) || !(options.devicePixelRatio > 0 && options.devicePixelRatio <= 8))
        return {};
    const auto choice = choose(text, side, options.encoder);
    if (!choice)
        return {};

    const int w = choice->bitmap.width();
    const int scale = std::max(int(std::ceil(2 * side / w)), kMinimumRenderScale);
    const QImage enlarged = choice->bitmap.scaled(w * scale, w * scale, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    if (enlarged.isNull())
        return {};

    const Geometry g = geometry(side, w);
    const QString line
        = diagnosticLine(side, w, choice->level.name, g.moduleMM, choice->level.logoFraction, text.toUtf8().size());
    if (options.diagnostic) {
        options.diagnostic(line);
    } else {
        std::fputs(line.toUtf8().constData(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }

    const int pixels = int(std::ceil(side * options.devicePixelRatio));
    QImage canvas(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    if (canvas.isNull())
        return {};
    canvas.setDevicePixelRatio(options.devicePixelRatio);
    canvas.fill(Qt::white);

    QPainter painter(&canvas);
    // Module edges stay sharp: whole-factor enlargement, then no interpolation.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    const QRectF inner(g.margin, g.margin, g.inner, g.inner);
    painter.drawImage(inner, enlarged);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);

    if (choice->level.logoFraction > 0) {
        const QImage logo = options.logo ? *options.logo : applicationIcon();
        if (!logo.isNull())
            drawLogo(painter, logo, inner, choice->level.logoFraction);
    }
    painter.end();
    return canvas;
}

LogoGeometry logoGeometry(const QRectF& r, double fraction)
{
    LogoGeometry g;
    const double logo = std::round(r.width() * fraction);
    const double plate = std::round(logo * kPlateFactor);
    const QPointF c = r.center();
    g.plate = QRectF(c.x() - plate / 2, c.y() - plate / 2, plate, plate);
    g.plateRadius = plate * kLogoCornerFactor;
    g.logo = QRectF(c.x() - logo / 2, c.y() - logo / 2, logo, logo);
    g.logoRadius = logo * kLogoCornerFactor;
    return g;
}

void drawLogo(QPainter& painter, const QImage& logo, const QRectF& r, double fraction)
{
    const LogoGeometry g = logoGeometry(r, fraction);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(g.plate, g.plateRadius, g.plateRadius);

    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.save();
    QPainterPath clip;
    clip.addRoundedRect(g.logo, g.logoRadius, g.logoRadius);
    painter.setClipPath(clip);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.drawImage(g.logo, logo);
    painter.restore();
}

QImage applicationIcon()
{
    for (const char* path : { ":/AppIcon.png", ":/AppIcon.svg" }) {
        QImageReader reader(QString::fromLatin1(path));
        if (!reader.canRead())
            continue;
        if (reader.size().isEmpty())
            reader.setScaledSize(QSize(512, 512));
        const QImage image = reader.read();
        if (!image.isNull())
            return image;
    }
    if (qGuiApp) {
        const QIcon icon = QGuiApplication::windowIcon();
        if (!icon.isNull())
            return icon.pixmap(QSize(512, 512)).toImage();
    }
    return {};
}

QString diagnosticLine(
    double side, int modules, const QString& level, double mmPerModule, double logoFraction, qsizetype payloadLength)
{
    const QString logo = logoFraction > 0 ? QString::asprintf("yes(%.3f)", logoFraction) : QStringLiteral("no");
    return QString::asprintf("[PAIR_QR_IMAGE] side=%d modules=%d correction=%s mm_per_module=%.2f logo=%s "
                             "payload_length=%lld",
        int(side), modules, level.toUtf8().constData(), mmPerModule, logo.toUtf8().constData(),
        static_cast<long long>(payloadLength));
}

QString densityWarning(double mmPerModule)
{
    return QStringLiteral("工作区较多，这张码偏密（每格约 ") + QString::asprintf("%.2f", mmPerModule)
        + QStringLiteral("mm，") + QStringLiteral("相机大约要 ") + QString::asprintf("%.2f", kMinimumModuleMM)
        + QStringLiteral("mm）。") + QStringLiteral("扫不动就用下面的「复制链接」。");
}

QString failureTitle()
{
    return QStringLiteral("二维码生成失败");
}

QString failureHint()
{
    return QStringLiteral("下面那条链接照样可以用：手机上「粘贴链接」");
}

} // namespace QRImage
