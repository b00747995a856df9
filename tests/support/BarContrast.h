#pragma once

#include <QImage>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

// How well a scroll bar's handle stands out from what is behind it (contrast
// as accessibility guidelines measure it, 1 to 21): the bar's brightest pixel
// (the handle) against its darkest (its margin, the background), as drawn.
inline double barContrast(QScrollBar* bar)
{
    QWidget* window = bar->window();
    const QImage shot = window->grab(QRect(bar->mapTo(window, QPoint()), bar->size())).toImage();
    const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    double lightest = 0;
    double darkest = 1;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            const QColor c = shot.pixelColor(x, y);
            const double l = 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
            lightest = std::max(lightest, l);
            darkest = std::min(darkest, l);
        }
    }
    return (lightest + 0.05) / (darkest + 0.05);
}
