#pragma once

#include <QAbstractAnimation>
#include <QWidget>

// A looping animation draws only while its widget shows on screen. Scrolled
// out of view (or clipped away), it pauses at its next frame; the widget's
// next paint, which comes when it is back in view, lets it run again. A
// window left open all day with a spinner below the fold costs nothing.
namespace OnScreenAnimation {

// For the animation's valueChanged: false, with the animation paused, when
// the widget shows nothing.
inline bool frame(QWidget* widget, QAbstractAnimation* animation)
{
    if (!widget->visibleRegion().isEmpty())
        return true;
    animation->pause();
    return false;
}

// For the widget's paintEvent.
inline void painted(QAbstractAnimation* animation)
{
    if (animation && animation->state() == QAbstractAnimation::Paused)
        animation->resume();
}

} // namespace OnScreenAnimation
