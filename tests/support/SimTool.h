#pragma once

#include "TempHome.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// The stand-in companion tool, linked into the temporary home and steered
// through its own folder (BRENLOW_SIM_DIR) for the life of the object.
class SimTool {
public:
    explicit SimTool(const TempHome& home)
        : m_dir(home.filePath(QStringLiteral("brenlow-sim")))
    {
        QDir().mkpath(m_dir);
        m_exe = home.installTool(Sim::companion());
        qputenv("BRENLOW_SIM_DIR", QFile::encodeName(m_dir));
    }
    ~SimTool() { qunsetenv("BRENLOW_SIM_DIR"); }
    SimTool(const SimTool&) = delete;
    SimTool& operator=(const SimTool&) = delete;

    // Where the runner finds the tool.
    QString exe() const { return m_exe; }

    // What a command (by its steering name: "runtimes", "daemon-status", …) prints and its exit code.
    void answer(const QString& name, const QByteArray& output, int code = 0) const
    {
        put(name + QStringLiteral(".out"), output);
        put(name + QStringLiteral(".code"), QByteArray::number(code));
    }
    void put(const QString& file, const QByteArray& content = "1") const
    {
        QFile f(m_dir + QLatin1Char('/') + file);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(content);
    }
    void drop(const QString& file) const { QFile::remove(m_dir + QLatin1Char('/') + file); }

    // Every run so far, oldest first: {"argv","cwd","env","pid","time"}.
    QList<QJsonObject> calls() const
    {
        QFile f(m_dir + QStringLiteral("/calls.jsonl"));
        QList<QJsonObject> out;
        if (!f.open(QIODevice::ReadOnly))
            return out;
        for (const QByteArray& line : f.readAll().split('\n')) {
            if (!line.trimmed().isEmpty())
                out.append(QJsonDocument::fromJson(line).object());
        }
        return out;
    }
    // The argument vectors of those runs, each joined with spaces.
    QStringList argvs() const
    {
        QStringList out;
        for (const QJsonObject& call : calls()) {
            QStringList words;
            for (const QJsonValue& v : call.value(QStringLiteral("argv")).toArray())
                words.append(v.toString());
            out.append(words.join(QLatin1Char(' ')));
        }
        return out;
    }

private:
    QString m_dir;
    QString m_exe;
};
