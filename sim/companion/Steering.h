#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// What tests and demos change about the stand-in: files in $BRENLOW_SIM_DIR
// (see README.md). Without that variable, or with an empty folder, the tool
// behaves like a healthy installation.
class Steering {
public:
    Steering();

    bool active() const { return !m_dir.isEmpty(); }
    QString dir() const { return m_dir; }

    // A file of the steering folder; none when it does not exist.
    std::optional<QByteArray> read(const QString& name) const;
    bool exists(const QString& name) const;
    // A file's content as a trimmed integer; none when missing or not a number.
    std::optional<int> integer(const QString& name) const;
    // Writes a file of the steering folder (ignored when there is none).
    void write(const QString& name, const QByteArray& content) const;

    // Appends one line to calls.jsonl: argv, working folder, the TOLVARINE_*
    // variables and any variable named in log_env.
    void logCall(const QStringList& args) const;

private:
    QString m_dir;
};

// Writes text to standard output at once (UTF-8, no buffering).
void say(const QString& text);
void sayRaw(const QByteArray& bytes);
// Writes one line to standard error.
void complain(const QString& text);
