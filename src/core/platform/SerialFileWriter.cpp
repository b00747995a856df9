#include "core/platform/SerialFileWriter.h"

#include "core/platform/OffMainThread.h"

#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QSaveFile>
#include <QWaitCondition>

#include <optional>

struct SerialFileWriter::State {
    QString path;
    Sink sink;
    mutable QMutex mutex;
    mutable QWaitCondition idle;
    std::optional<QByteArray> waiting;
    bool busy = false;

    // Runs on the pool until nothing waits; only one runs per writer at a time.
    void drain()
    {
        for (;;) {
            QByteArray bytes;
            {
                const QMutexLocker lock(&mutex);
                if (!waiting) {
                    busy = false;
                    idle.wakeAll();
                    return;
                }
                bytes = std::move(*waiting);
                waiting.reset();
            }
            sink(path, bytes);
        }
    }
};

namespace {

void replaceFile(const QString& path, const QByteArray& bytes)
{
    // A failure keeps the old file; the next change writes again.
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile f(path);
    if (f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size())
        f.commit();
}

} // namespace

SerialFileWriter::SerialFileWriter(const QString& path, Sink sink)
    : m_state(std::make_shared<State>())
{
    m_state->path = path;
    m_state->sink = sink ? std::move(sink) : Sink(replaceFile);
}

SerialFileWriter::~SerialFileWriter()
{
    waitForIdle();
}

void SerialFileWriter::write(const QByteArray& bytes)
{
    {
        const QMutexLocker lock(&m_state->mutex);
        m_state->waiting = bytes;
        if (m_state->busy)
            return;
        m_state->busy = true;
    }
    // The job holds the state, not the writer.
    offMainThreadPool()->start([state = m_state] { state->drain(); });
}

void SerialFileWriter::waitForIdle() const
{
    const QMutexLocker lock(&m_state->mutex);
    while (m_state->busy)
        m_state->idle.wait(&m_state->mutex);
}
