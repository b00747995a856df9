#pragma once

#include <QByteArray>
#include <QStringList>

// Cuts a child's output stream into lines. Bytes are kept until a line feed
// arrives, so a line that comes in two reads (even one split inside a UTF-8
// character) is delivered whole. One carriage return before the line feed is
// dropped, empty lines are skipped, and each line is decoded as UTF-8 with
// replacement characters for invalid bytes.
class LineSplitter {
public:
    // The complete lines that `chunk` finishes, in order.
    QStringList feed(const QByteArray& chunk);
    // At end of stream: the unterminated last line, when there is one.
    QStringList finish();

private:
    static void take(QByteArray line, QStringList& into);

    QByteArray m_pending;
};
