#pragma once

#include "TempHome.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

// A small companion tool written as a shell script into the temporary home
// (~/.local/bin/brenlow), steered through files in ~/fake-tool:
//   <args joined by "_">.out / .code   what a command prints and its exit code
//   run-ignores-term                   the worker ignores SIGTERM
//   run-burst                          the worker first prints that many lines
//   <args>.delay                      seconds to wait before answering
//   calls.log                          one line per call: the arguments
// The worker ("run") prints its start line with the runtime variables, its
// working folder and OPENAI_API_KEY, then a line every 0.1 s until SIGTERM.
class FakeTool {
public:
    explicit FakeTool(const TempHome& home)
        : m_dir(home.filePath(QStringLiteral("fake-tool")))
    {
        QDir().mkpath(m_dir);
        const QString script = home.filePath(QStringLiteral(".local/bin/brenlow"));
        QDir().mkpath(QFileInfo(script).absolutePath());
        QFile f(script);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(R"SH(#!/bin/sh
dir="$HOME/fake-tool"
echo "$*" >> "$dir/calls.log"
if [ "$1" = run ]; then
  if [ -f "$dir/run-ignores-term" ]; then trap '' TERM; else trap 'exit 0' TERM; fi
  echo "start kind=$TOLVARINE_RUNTIME_KIND runtime=$TOLVARINE_RUNTIME ws=$TOLVARINE_WS cwd=$(pwd) key=$OPENAI_API_KEY"
  if [ -f "$dir/run-burst" ]; then
    i=0; n=$(cat "$dir/run-burst")
    while [ $i -lt $n ]; do i=$((i+1)); echo "burst $i"; done
  fi
  i=0
  while :; do i=$((i+1)); echo "tick $i"; sleep 0.1; done
fi
key=$(printf '%s_' "$@")
key=${key%_}
[ -f "$dir/$key.delay" ] && sleep "$(cat "$dir/$key.delay")"
[ -f "$dir/$key.out" ] && cat "$dir/$key.out"
[ -f "$dir/$key.code" ] && exit "$(cat "$dir/$key.code")"
exit 0
)SH");
        f.close();
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    // What a command answers (arguments joined by "_", e.g. "daemon_status_--json").
    void answer(const QString& command, const QByteArray& output, int code = 0) const
    {
        write(command + QStringLiteral(".out"), output);
        write(command + QStringLiteral(".code"), QByteArray::number(code));
    }
    void flag(const QString& name, const QByteArray& content = "1") const { write(name, content); }
    QStringList calls() const
    {
        QFile f(m_dir + QStringLiteral("/calls.log"));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private:
    void write(const QString& name, const QByteArray& content) const
    {
        QFile f(m_dir + QLatin1Char('/') + name);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(content);
    }
    QString m_dir;
};
