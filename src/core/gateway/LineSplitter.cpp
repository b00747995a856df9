#include "core/gateway/LineSplitter.h"

#include <QString>

void LineSplitter::take(QByteArray line, QStringList& into)
{
    if (line.endsWith('\r'))
        line.chop(1);
    if (!line.isEmpty())
        into.append(QString::fromUtf8(line));
}

QStringList LineSplitter::feed(const QByteArray& chunk)
{
    QStringList lines;
    m_pending.append(chunk);
    qsizetype start = 0;
    for (qsizetype lf = m_pending.indexOf('\n'); lf >= 0; lf = m_pending.indexOf('\n', start)) {
        take(m_pending.sliced(start, lf - start), lines);
        start = lf + 1;
    }
    m_pending.remove(0, start);
    return lines;
}

QStringList LineSplitter::finish()
{
    QStringList lines;
    take(std::exchange(m_pending, QByteArray()), lines);
    return lines;
}
