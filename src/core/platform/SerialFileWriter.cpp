#include "core/platform/SerialFileWriter.h"

#include "core/platform/JsonFile.h"
#include "core/platform/SerialExecutor.h"

#include <QMutex>

#include <optional>

struct SerialFileWriter::State {
    QString path;
    Sink sink;
    QMutex mutex;
    // The newest bytes handed in and not yet taken by a write.
    std::optional<QByteArray> waiting;
    SerialExecutor queue;

    // A queued write takes whatever is newest when its turn comes.
    void writeNewest()
    {
        std::optional<QByteArray> bytes;
        {
            const QMutexLocker lock(&mutex);
            bytes.swap(waiting);
        }
        if (bytes)
            sink(path, *bytes);
    }
};

SerialFileWriter::SerialFileWriter(const QString& path, Sink sink)
    : m_state(std::make_shared<State>())
{
    m_state->path = path;
    m_state->sink = sink ? std::move(sink) : Sink([](const QString& path, const QByteArray& bytes) {
        // A failure keeps the old file; the next change writes again.
        JsonFile::replaceFile(path, bytes);
    });
}

SerialFileWriter::~SerialFileWriter()
{
    waitForIdle();
}

QString SerialFileWriter::path() const
{
    return m_state->path;
}

void SerialFileWriter::write(const QByteArray& bytes)
{
    bool queued;
    {
        const QMutexLocker lock(&m_state->mutex);
        // Bytes already waiting are replaced: only the newest are written.
        queued = m_state->waiting.has_value();
        m_state->waiting = bytes;
    }
    // The job holds the state, not the writer.
    if (!queued)
        m_state->queue.run([state = m_state] { state->writeNewest(); });
}

void SerialFileWriter::waitForIdle() const
{
    m_state->queue.waitForIdle();
}

bool SerialFileWriter::busy() const
{
    return m_state->queue.busy();
}
