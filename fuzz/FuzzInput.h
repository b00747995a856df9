#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Shared by the fuzz targets: the input as Qt types, and a check that stops
// the run (libFuzzer keeps the input) when a decoder breaks a promise of its
// interface rather than crashing outright.

inline QByteArray fuzzBytes(const uint8_t* data, size_t size)
{
    // A copy, so that a read past the end of the input is ASan's to catch.
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

// How the companion tool's output reaches the decoders: bytes as UTF-8, with
// replacement characters for invalid sequences.
inline QString fuzzToolOutput(const uint8_t* data, size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
}

#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);                         \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (false)

// A time as the stores keep it: UTC, to the whole second. (toSecsSinceEpoch
// would not do: it rounds toward zero, which before 1970 is the next second up.)
inline QString storedSecond(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODate);
}

// Qt's warnings (a bad date, an odd JSON value) are expected here by the
// million; they would only slow the run down.
inline void fuzzQuietQt()
{
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtFatalMsg) {
            std::fprintf(stderr, "qFatal: %s\n", qPrintable(message));
            std::abort();
        }
    });
}

#define FUZZ_QUIET_QT                                                                                                  \
    extern "C" int LLVMFuzzerInitialize(int*, char***)                                                                 \
    {                                                                                                                  \
        fuzzQuietQt();                                                                                                 \
        return 0;                                                                                                      \
    }
