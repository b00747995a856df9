#pragma once

#include <QString>

#include <optional>

// One piece of work listed under a local runtime.
struct RuntimeServing {
    std::optional<QString> employeeName; // none: no employee, or not in the roster
    QString taskText;
    bool running = false; // false: the last finished one

    QString id() const;
    bool operator==(const RuntimeServing&) const = default;
};
