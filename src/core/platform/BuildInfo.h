#pragma once

#include <QString>

// What the build recorded about itself: version, build number, commit.
namespace BuildInfo {

QString version();
QString buildNumber();
// The commit the tree was configured from; empty outside a git checkout.
QString commit();

} // namespace BuildInfo
