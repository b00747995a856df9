#pragma once

#include <QByteArray>
#include <QStringList>

// Cuts a child's output stream into lines. Bytes are kept until a line feed
// arrives, so a line that comes in two reads (even one split inside a UTF-8
// character) is delivered whole. One carriage return before the line feed is
// dropped, empty lines are skipped, and each line is decoded as UTF-8 with
// replacement characters for invalid bytes. A line longer than kMaxLineBytes
// is delivered as its first kMaxLineBytes as soon as it has that many; the
// rest of it, up to its line feed, is dropped.
class LineSplitter {
public:
    static constexpr qsizetype kMaxLineBytes = 64 * 1024;

    // The complete lines that `chunk` finishes, in order.
    QStringList feed(const QByteArray& chunk);
    // At end of stream: the unterminated last line, when there is one.
    QStringList finish();

private:
    static void take(QByteArray line, QStringList& into);

    QByteArray m_pending;
    // The start of an overlong line has been delivered; its rest is dropped.
    bool m_skipping = false;
};
