#pragma once

#include <QString>

// Where the application keeps its own stores.
namespace TolvarinePaths {

// $TOLVARINE_HOME when set and not empty, else the user's home.
QString productHome();
// productHome() + "/.tolvarine", created (with parents) on every call; a
// failure to create it is ignored and shows up when a store is written.
QString dotTolvarine();

} // namespace TolvarinePaths
