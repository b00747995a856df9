// A child's output stream cut into lines. The first byte picks the size of
// the reads the rest arrives in; however it is cut, the lines must be the
// same as when the whole stream arrives at once.
#include "FuzzInput.h"

#include "core/gateway/LineSplitter.h"

FUZZ_QUIET_QT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t step = size_t(data[0] % 16) + 1;
    const QByteArray stream = fuzzBytes(data + 1, size - 1);

    LineSplitter whole;
    QStringList expected = whole.feed(stream);
    expected += whole.finish();

    LineSplitter pieces;
    QStringList lines;
    for (qsizetype at = 0; at < stream.size(); at += qsizetype(step))
        lines += pieces.feed(stream.mid(at, qsizetype(step)));
    lines += pieces.finish();
    FUZZ_CHECK(lines == expected);
    for (const QString& line : lines)
        FUZZ_CHECK(!line.isEmpty() && !line.contains(QLatin1Char('\n')));
    return 0;
}
