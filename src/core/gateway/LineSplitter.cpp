#include "core/gateway/LineSplitter.h"

#include <QString>

#include <utility>

void LineSplitter::take(QByteArray line, QStringList& into)
{
    if (line.endsWith('\r'))
        line.chop(1);
    if (line.size() > kMaxLineBytes)
        line.truncate(kMaxLineBytes);
    if (!line.isEmpty())
        into.append(QString::fromUtf8(line));
}

QStringList LineSplitter::feed(const QByteArray& chunk)
{
    QStringList lines;
    m_pending.append(chunk);
    qsizetype start = 0;
    for (qsizetype lf = m_pending.indexOf('\n'); lf >= 0; lf = m_pending.indexOf('\n', start)) {
        if (!std::exchange(m_skipping, false))
            take(m_pending.sliced(start, lf - start), lines);
        start = lf + 1;
    }
    m_pending.remove(0, start);
    // A line that goes on and on is not held whole.
    if (m_skipping) {
        m_pending.clear();
    } else if (m_pending.size() > kMaxLineBytes) {
        take(std::exchange(m_pending, QByteArray()), lines);
        m_skipping = true;
    }
    return lines;
}

QStringList LineSplitter::finish()
{
    QStringList lines;
    if (!std::exchange(m_skipping, false))
        take(std::exchange(m_pending, QByteArray()), lines);
    m_pending.clear();
    return lines;
}
