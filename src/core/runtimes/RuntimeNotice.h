#pragma once

#include <QString>

// What an action on a local runtime came to, in words for the user: the
// window's notice, and the line beside the buttons of the runtime's card.
struct RuntimeNotice {
    QString text;
    bool isError = false;

    bool operator==(const RuntimeNotice&) const = default;
};
