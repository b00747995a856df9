#pragma once

#include "core/design/RuntimeUsability.h"

#include <QColor>
#include <QString>

// What a status badge shows: a dot (solid with a reading, a hollow ring
// without), the word in the tint, and the stable state word automation reads.
struct StatusBadgeLook {
    QString text;
    QColor tint;
    QString stable;
    bool hasReading = true;

    bool operator==(const StatusBadgeLook&) const = default;

    // The badge of a local runtime's usability; always a reading.
    static StatusBadgeLook forRuntime(RuntimeUsability usability);
};
