#include "core/runtimes/RuntimeServing.h"

QString RuntimeServing::id() const
{
    return employeeName.value_or(QStringLiteral("-")) + QLatin1Char('|') + taskText + QLatin1Char('|')
        + (running ? QStringLiteral("true") : QStringLiteral("false"));
}
