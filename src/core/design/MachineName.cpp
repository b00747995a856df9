#include "core/design/MachineName.h"

namespace MachineName {

namespace {
// Space separators and the horizontal tab; line breaks are kept.
bool isTrimmable(QChar c)
{
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}
} // namespace

QString friendly(const QString& id)
{
    QString s = id;
    for (const char* prefix : { "cli-", "desktop-", "agent-" }) {
        if (s.startsWith(QLatin1String(prefix)))
            s.remove(0, static_cast<qsizetype>(qstrlen(prefix)));
    }
    if (s.endsWith(QLatin1String(".local")))
        s.chop(6);
    s.replace(QLatin1Char('-'), QLatin1Char(' '));
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && isTrimmable(s.at(begin)))
        ++begin;
    while (end > begin && isTrimmable(s.at(end - 1)))
        --end;
    s = s.mid(begin, end - begin);
    return s.isEmpty() ? id : s;
}

} // namespace MachineName
