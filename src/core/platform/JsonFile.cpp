#include "core/platform/JsonFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace JsonFile {

namespace {
QString tooLarge(qint64 limit)
{
    return QStringLiteral("超过 %1 MB").arg(limit / (1024 * 1024));
}
} // namespace

bool replaceFile(const QString& path, const QByteArray& bytes, Access access, QString* error)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile f(path);
    if (f.open(QIODevice::WriteOnly)) {
        if (access == Access::Private)
            f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        // commit() alone renames the file even when the buffered bytes could
        // not reach the disk (a full disk): the write and the flush are
        // checked first, and when either fails the new file is dropped and
        // the old one stays.
        if (f.write(bytes) == bytes.size() && f.flush()) {
            if (f.commit())
                return true;
        } else {
            // The reason first: cancelling sets an error of its own.
            if (error)
                *error = f.errorString();
            f.cancelWriting();
            f.commit();
            return false;
        }
    }
    if (error)
        *error = f.errorString();
    return false;
}

bool writeAtomically(const QString& path, const QJsonDocument& doc, Access access, QString* error)
{
    return replaceFile(path, doc.toJson(QJsonDocument::Indented), access, error);
}

bool keepAside(const QString& path, const QByteArray& data, Access access, QString* error)
{
    return replaceFile(asidePath(path), data, access, error);
}

QString asidePath(const QString& path)
{
    return path + QStringLiteral(".bad");
}

bool hasAside(const QString& path)
{
    // A link kept aside (renamed as it was) counts even when it leads nowhere.
    const QFileInfo bad(asidePath(path));
    return bad.exists() || bad.isSymLink();
}

Stored readStored(const QString& path, qint64 limit)
{
    Stored out;
    const QFileInfo info(path);
    // A link that leads nowhere readable (or loops) is there all the same.
    if (!info.exists() && !info.isSymLink())
        return out;
    out.state = Stored::State::Unreadable;
    if (const std::optional<QString> why = whyNotOpened(path, limit)) {
        out.isFolder = info.isDir();
        out.reason = *why;
        return out;
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        out.reason = QStringLiteral("打不开（%1）").arg(f.errorString());
        return out;
    }
    // Read no more than the limit: the file may grow while it is read. In
    // pieces, since read(n) allocates n bytes at once and the result keeps
    // that capacity: a small pairing file read on every poll would hold the
    // whole limit each time.
    while (out.data.size() <= limit) {
        const QByteArray piece = f.read(qMin<qint64>(64 * 1024, limit + 1 - out.data.size()));
        if (piece.isEmpty())
            break;
        out.data.append(piece);
    }
    out.data.squeeze();
    if (out.data.size() > limit) {
        out.data.clear();
        out.reason = tooLarge(limit);
        return out;
    }
    out.state = Stored::State::Read;
    return out;
}

std::optional<QString> whyNotOpened(const QString& path, qint64 limit)
{
    const QFileInfo info(path);
    if (info.isDir())
        return QStringLiteral("这里是个文件夹，不是文件");
    // A pipe or a device would hold the reader until someone writes to it.
    if (info.exists() && !info.isFile())
        return QStringLiteral("不是普通文件");
    if (info.exists() && info.size() > limit)
        return tooLarge(limit);
    return std::nullopt;
}

bool setAside(const QString& path, const Stored& stored, Access access, QString* error)
{
    switch (stored.state) {
    case Stored::State::Missing:
        return true;
    case Stored::State::Read:
        return keepAside(path, stored.data, access, error);
    case Stored::State::Unreadable:
        break;
    }
    if (stored.isFolder) {
        if (error)
            *error = QStringLiteral("%1：%2").arg(path, stored.reason);
        return false;
    }
    const QString bad = asidePath(path);
    QFile::remove(bad);
    if (QFile::rename(path, bad))
        return true;
    if (error)
        *error = QStringLiteral("%1：%2").arg(path, stored.reason);
    return false;
}

std::optional<QJsonDocument> read(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    QJsonParseError err;
    QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &err);
    if (err.error != QJsonParseError::NoError)
        return std::nullopt;
    return doc;
}

} // namespace JsonFile
