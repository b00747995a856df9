#include "core/design/DSFont.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QScreen>

namespace DSFont {

namespace {

// QFont only takes whole pixel sizes; fractional sizes (10.5, 11.5, …) go in
// as point sizes converted at the screen's logical DPI, which gives the same
// pixel size on the device.
void setPixelSizeF(QFont& f, qreal px)
{
    qreal dpi = 96.0;
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        if (QScreen* screen = app->primaryScreen(); screen && screen->logicalDotsPerInchY() > 0)
            dpi = screen->logicalDotsPerInchY();
    }
    f.setPointSizeF(px * 72.0 / dpi);
}

} // namespace

QFont font(Face face, qreal size)
{
    QFont f;
    const bool mono = face == Face::MonoMedium || face == Face::MonoBold;
    if (mono) {
        f.setFamilies({ QStringLiteral("JetBrains Mono"), QStringLiteral("Noto Sans Mono CJK SC"),
            QStringLiteral("Noto Sans CJK SC") });
        f.setStyleHint(QFont::Monospace);
        f.setFixedPitch(true);
    } else {
        f.setFamilies({ QStringLiteral("Manrope"), QStringLiteral("Noto Sans CJK SC") });
        f.setStyleHint(QFont::SansSerif);
    }
    switch (face) {
    case Face::ManropeMedium:
    case Face::MonoMedium:
        f.setWeight(QFont::Medium);
        break;
    case Face::ManropeSemiBold:
        f.setWeight(QFont::DemiBold);
        break;
    case Face::ManropeBold:
    case Face::MonoBold:
        f.setWeight(QFont::Bold);
        break;
    case Face::ManropeExtraBold:
        f.setWeight(QFont::ExtraBold);
        break;
    }
    setPixelSizeF(f, size);
    return f;
}

QFont system(qreal size, QFont::Weight weight)
{
    QFont f = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    f.setWeight(weight);
    setPixelSizeF(f, size);
    return f;
}

} // namespace DSFont
