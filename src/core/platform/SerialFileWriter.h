#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

// Keeps one file up to date without making its writer wait on the disk: each
// write() hands the bytes to the thread pool, where they replace the file
// atomically. Writes happen one at a time, in the order given; bytes handed in
// while a write is under way wait, and only the newest of them are written
// next, so the file always ends with the latest content.
class SerialFileWriter {
public:
    // Writes `bytes` to `path`; the default replaces the file atomically,
    // creating its folder. Tests pass their own.
    using Sink = std::function<void(const QString& path, const QByteArray& bytes)>;

    explicit SerialFileWriter(const QString& path, Sink sink = {});
    // Waits for the write under way and the one waiting (the owner goes when
    // the window does, or at quit), so that no write lands after its owner.
    ~SerialFileWriter();
    SerialFileWriter(const SerialFileWriter&) = delete;
    SerialFileWriter& operator=(const SerialFileWriter&) = delete;

    QString path() const;
    // Returns at once.
    void write(const QByteArray& bytes);
    // Blocks until every write handed in has landed.
    void waitForIdle() const;
    // Whether a write handed in has yet to land (a read of the file now may
    // find the older content).
    bool busy() const;

private:
    struct State;
    std::shared_ptr<State> m_state;
};
