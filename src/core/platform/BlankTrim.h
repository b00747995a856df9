#pragma once

#include <QString>

// Trims Unicode space separators and tabs from both ends; line breaks stay.
QString trimBlanks(const QString& text);
