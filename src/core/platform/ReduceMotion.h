#pragma once

#include "core/platform/Settings.h"

#include <optional>

// Whether the user asked for less motion. Read, in order: the application's
// own setting (QSettings key "reduceMotion"), the desktop's animation switch
// where it can be read from a file (GTK's gtk-enable-animations, KDE's
// AnimationDurationFactor), else off. Tests inject a value with setOverride.
class ReduceMotion {
public:
    // Read once and kept until one of those files changes (called on the GUI
    // thread, it watches them; called on another, it reads them every time).
    static bool enabled();

    // A value that wins over everything else; std::nullopt removes it.
    static void setOverride(std::optional<bool> value);

    static constexpr const char* kSettingsKey = Settings::reduceMotion.key;
};
