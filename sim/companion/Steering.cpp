#include "Steering.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>

#include <fcntl.h>
#include <unistd.h>

namespace {

void writeAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        done += n;
    }
}

} // namespace

void sayRaw(const QByteArray& bytes)
{
    writeAll(STDOUT_FILENO, bytes);
}

void say(const QString& text)
{
    sayRaw(text.toUtf8());
}

void complain(const QString& text)
{
    writeAll(STDERR_FILENO, text.toUtf8() + '\n');
}

Steering::Steering()
{
    const QString dir = qEnvironmentVariable("BRENLOW_SIM_DIR");
    if (!dir.isEmpty() && QFileInfo(dir).isDir())
        m_dir = dir;
}

std::optional<QByteArray> Steering::read(const QString& name) const
{
    if (m_dir.isEmpty())
        return std::nullopt;
    QFile f(QDir(m_dir).filePath(name));
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return f.readAll();
}

bool Steering::exists(const QString& name) const
{
    return !m_dir.isEmpty() && QFileInfo::exists(QDir(m_dir).filePath(name));
}

std::optional<int> Steering::integer(const QString& name) const
{
    const auto content = read(name);
    if (!content)
        return std::nullopt;
    bool ok = false;
    const int value = content->trimmed().toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

void Steering::write(const QString& name, const QByteArray& content) const
{
    if (m_dir.isEmpty())
        return;
    QFile f(QDir(m_dir).filePath(name));
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(content);
}

void Steering::logCall(const QStringList& args) const
{
    if (m_dir.isEmpty())
        return;
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QStringList extra;
    if (const auto names = read(QStringLiteral("log_env")))
        extra = QString::fromUtf8(*names).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QJsonObject vars;
    for (const QString& key : env.keys()) {
        if (key.startsWith(QLatin1String("TOLVARINE_")) || extra.contains(key))
            vars.insert(key, env.value(key));
    }
    const QJsonObject entry { { "argv", QJsonArray::fromStringList(args) }, { "cwd", QDir::currentPath() },
        { "env", vars }, { "pid", qint64(::getpid()) },
        { "time", QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs) } };
    // One write on an O_APPEND descriptor, so lines of concurrent runs never mix.
    const QByteArray line = QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n';
    const QByteArray path = QFile::encodeName(QDir(m_dir).filePath(QStringLiteral("calls.jsonl")));
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    writeAll(fd, line);
    ::close(fd);
}
