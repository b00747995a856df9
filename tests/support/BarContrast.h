#pragma once

#include <QColor>
#include <QImage>
#include <QScrollBar>
#include <QWidget>

#include <algorithm>
#include <cmath>

// How well a scroll bar's handle stands out from what is behind it, as
// accessibility guidelines measure contrast (1 to 21): the brightest and the
// darkest pixel of the bar as its window draws it (the handle is the
// brightest, the bar's margin shows the background).
inline double barContrast(QScrollBar* bar)
{
    QWidget* window = bar->window();
    const QImage shot = window->grab(QRect(bar->mapTo(window, QPoint(0, 0)), bar->size())).toImage();
    const auto luminance = [](QRgb rgb) {
        const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        const QColor c = QColor::fromRgb(rgb);
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    double lightest = 0;
    double darkest = 1;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            const double l = luminance(shot.pixel(x, y));
            lightest = std::max(lightest, l);
            darkest = std::min(darkest, l);
        }
    }
    return (lightest + 0.05) / (darkest + 0.05);
}
