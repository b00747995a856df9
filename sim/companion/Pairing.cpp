#include "Pairing.h"

#include "GatewayCall.h"
#include "Steering.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSysInfo>

namespace {

const QStringList kPairingRoots { QStringLiteral(".tolvarine-protected"), QStringLiteral(".tolvarine") };

QString home()
{
    return QDir::homePath();
}

QString randomHex(int bytes)
{
    QByteArray raw(bytes, Qt::Uninitialized);
    for (char& c : raw)
        c = char(QRandomGenerator::system()->bounded(256));
    return QString::fromLatin1(raw.toHex());
}

QString deviceId()
{
    const QString host = QSysInfo::machineHostName();
    return QStringLiteral("cli-") + (host.isEmpty() ? QStringLiteral("unknown-host") : host);
}

// Workspace ids become file names; anything but a plain id is refused.
bool safeId(const QString& id)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9._-]*$"));
    return plain.match(id).hasMatch();
}

bool writePrivate(const QString& path, const QJsonObject& object)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile::setPermissions(
        QFileInfo(path).absolutePath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QByteArray bytes = QJsonDocument(object).toJson(QJsonDocument::Indented);
    // A full disk fails the flush, not the buffered write: the old file stays.
    if (f.write(bytes) != bytes.size() || !f.flush()) {
        f.cancelWriting();
        f.commit();
        return false;
    }
    return f.commit();
}

std::optional<QJsonObject> readObject(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonDocument doc = QJsonDocument::fromJson(f.readAll());
    if (!doc.isObject())
        return std::nullopt;
    return doc.object();
}

// Every pairing file that describes the workspace `id`.
QStringList filesOf(const QString& id)
{
    QStringList files;
    for (const QString& root : kPairingRoots) {
        const QString base = home() + QLatin1Char('/') + root;
        for (const QString& candidate : { base + QStringLiteral("/workspaces/") + id + QStringLiteral(".json"),
                 base + QStringLiteral("/config.json") }) {
            const auto object = readObject(candidate);
            if (object && object->value(QStringLiteral("workspace")).toString() == id)
                files.append(candidate);
        }
    }
    return files;
}

// The workspace a folder is already paired to, compared as the file system
// does; none when no pairing file names it. Pairing such a folder again
// pairs that workspace again rather than binding a second one to it.
QString workspaceAt(const QString& folder)
{
    const QString wanted = QFileInfo(folder).canonicalFilePath();
    for (const QString& root : kPairingRoots) {
        const QDir dir(home() + QLatin1Char('/') + root + QStringLiteral("/workspaces"));
        for (const QFileInfo& info : dir.entryInfoList({ QStringLiteral("*.json") }, QDir::Files, QDir::Name)) {
            const auto object = readObject(info.filePath());
            if (!object)
                continue;
            const QString path = object->value(QStringLiteral("path")).toString();
            if (!path.isEmpty() && QFileInfo(path).canonicalFilePath() == wanted)
                return object->value(QStringLiteral("workspace")).toString();
        }
    }
    return {};
}

// A value after `--name` in the arguments; none when absent.
std::optional<QString> option(const QStringList& args, const QString& name)
{
    const qsizetype i = args.indexOf(name);
    if (i < 0 || i + 1 >= args.size())
        return std::nullopt;
    return args.at(i + 1);
}

QJsonObject relocation(bool ok, const QString& path, const QStringList& candidates, const QString& error)
{
    return { { "ok", ok }, { "path", path }, { "candidates", QJsonArray::fromStringList(candidates) },
        { "error", error } };
}

int answer(bool json, const QJsonObject& reply)
{
    if (json) {
        say(QString::fromUtf8(QJsonDocument(reply).toJson(QJsonDocument::Compact)) + QLatin1Char('\n'));
    } else if (reply.value(QStringLiteral("ok")).toBool()) {
        say(reply.value(QStringLiteral("path")).toString() + QLatin1Char('\n'));
    } else {
        say(reply.value(QStringLiteral("error")).toString() + QLatin1Char('\n'));
    }
    return reply.value(QStringLiteral("ok")).toBool() ? 0 : 1;
}

// Folders under the home named `name`, at most four levels down; hidden
// folders and links are not entered.
QStringList searchByName(const QString& name, const QString& exclude)
{
    QStringList found;
    QStringList level { home() };
    for (int depth = 0; depth < 4 && !level.isEmpty(); ++depth) {
        QStringList next;
        for (const QString& parent : level) {
            const QFileInfoList children
                = QDir(parent).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
            for (const QFileInfo& child : children) {
                if (child.fileName() == name && child.absoluteFilePath() != exclude)
                    found.append(child.absoluteFilePath());
                next.append(child.absoluteFilePath());
            }
        }
        level = next;
    }
    found.sort();
    return found;
}

} // namespace

namespace Pairing {

int workspaces(const QStringList&)
{
    QStringList seen;
    for (const QString& root : kPairingRoots) {
        QDir dir(home() + QLatin1Char('/') + root + QStringLiteral("/workspaces"));
        for (const QFileInfo& info : dir.entryInfoList({ QStringLiteral("*.json") }, QDir::Files, QDir::Name)) {
            const auto object = readObject(info.filePath());
            if (!object)
                continue;
            const QString id = object->value(QStringLiteral("workspace")).toString();
            if (id.isEmpty() || seen.contains(id))
                continue;
            seen.append(id);
            say(QStringLiteral("%1\t%2\t%3\n")
                    .arg(id, object->value(QStringLiteral("name")).toString(),
                        object->value(QStringLiteral("path")).toString()));
        }
    }
    if (seen.isEmpty())
        say(QStringLiteral("还没有配对过的工作区\n"));
    return 0;
}

int pair(const QStringList& args)
{
    const auto folderArg = option(args, QStringLiteral("--path"));
    if (!folderArg || folderArg->isEmpty()) {
        complain(QStringLiteral("usage: brenlow pair --path <folder> [--grant <tier>]"));
        return 2;
    }
    const QFileInfo folderInfo(*folderArg);
    if (!folderInfo.isDir()) {
        say(QStringLiteral("目录不存在：%1\n").arg(*folderArg));
        return 1;
    }
    // "shop/" names the folder "shop": the trailing slash is not kept.
    const QString folder = QDir::cleanPath(folderInfo.absoluteFilePath());
    const QString folderName = QFileInfo(folder).fileName();
    const QString grant = option(args, QStringLiteral("--grant")).value_or(QString());

    const QString api = gatewayBase();
    const QString device = deviceId();
    QJsonObject request { { "path", folder }, { "name", folderName }, { "device", device } };
    QString wanted = qEnvironmentVariable("BRENLOW_SIM_PAIR_WS");
    if (wanted.isEmpty())
        wanted = workspaceAt(folder);
    if (!wanted.isEmpty())
        request.insert(QStringLiteral("workspace"), wanted);
    const GatewayReply reply = postJson(api, QStringLiteral("/_sim/workspaces"), request);

    QString workspace = reply.body.value(QStringLiteral("workspace")).toString();
    QString token = reply.body.value(QStringLiteral("token")).toString();
    QString name = reply.body.value(QStringLiteral("name")).toString();
    const bool registered = reply.ok() && !workspace.isEmpty() && !token.isEmpty();
    if (!registered) {
        workspace = wanted.isEmpty() ? QStringLiteral("ws-") + randomHex(5) : wanted;
        token = randomHex(16);
        name.clear();
    }
    if (name.isEmpty())
        name = folderName;
    if (!safeId(workspace)) {
        say(QStringLiteral("网关给的工作区 id 不能用：%1\n").arg(workspace));
        return 1;
    }

    const QJsonObject config { { "api", api }, { "workspace", workspace }, { "token", token }, { "path", folder },
        { "device", device }, { "name", name } };
    const QString base = home() + QStringLiteral("/.tolvarine");
    if (!writePrivate(base + QStringLiteral("/workspaces/") + workspace + QStringLiteral(".json"), config)
        || !writePrivate(base + QStringLiteral("/config.json"), config)) {
        say(QStringLiteral("写不进配对文件：%1\n").arg(base));
        return 1;
    }

    if (registered) {
        say(QStringLiteral("已配对 %1（%2），网关 %3\n").arg(name, workspace, api));
        if (!grant.isEmpty()) {
            const GatewayReply granted
                = postJson(api, QStringLiteral("/_sim/workspaces/") + workspace + QStringLiteral("/grant"),
                    { { "device", device }, { "tiers", QJsonArray { grant } } });
            if (!granted.ok())
                say(QStringLiteral("warning: 没能声明 %1：%2\n").arg(grant, granted.error));
        }
    } else {
        say(QStringLiteral("warning: 网关 %1 没有回话（%2），先在本机记下了配对 %3（%4）\n")
                .arg(api, reply.error, name, workspace));
    }
    return 0;
}

int relocate(const QStringList& args)
{
    // args: "workspace", "relocate", then options and at most one folder.
    const QStringList rest = args.mid(2);
    const bool json = rest.contains(QStringLiteral("--json"));
    const bool dryRun = rest.contains(QStringLiteral("--dry-run"));
    const auto id = option(rest, QStringLiteral("--ws"));
    QStringList positional;
    for (qsizetype i = 0; i < rest.size(); ++i) {
        if (rest[i] == QLatin1String("--ws")) {
            ++i;
            continue;
        }
        if (!rest[i].startsWith(QLatin1String("--")))
            positional.append(rest[i]);
    }
    if (!id || id->isEmpty() || (dryRun == !positional.isEmpty()) || positional.size() > 1) {
        complain(QStringLiteral("usage: brenlow workspace relocate --ws <id> (--dry-run | <folder>) [--json]"));
        return 2;
    }

    say(QStringLiteral("brenlow: looking up workspace %1\n").arg(*id));
    const QStringList files = safeId(*id) ? filesOf(*id) : QStringList();
    if (files.isEmpty())
        return answer(json, relocation(false, {}, {}, QStringLiteral("不认识这个工作区：") + *id));

    if (dryRun) {
        const QString old = readObject(files.first())->value(QStringLiteral("path")).toString();
        if (!old.isEmpty() && QFileInfo(old).isDir())
            return answer(json, relocation(true, old, {}, {}));
        const QString name = QFileInfo(old).fileName();
        const QStringList found = name.isEmpty() ? QStringList() : searchByName(name, old);
        if (found.size() == 1)
            return answer(json, relocation(true, found.first(), {}, {}));
        if (found.isEmpty())
            return answer(
                json, relocation(false, {}, {}, QStringLiteral("在 %1 下面没找到叫 %2 的目录").arg(home(), name)));
        return answer(json, relocation(false, {}, found, QStringLiteral("找到好几个叫 %1 的目录，挑一个").arg(name)));
    }

    const QFileInfo target(positional.first());
    if (!target.isDir())
        return answer(json, relocation(false, {}, {}, QStringLiteral("目录不存在：") + positional.first()));
    const QString folder = target.absoluteFilePath();
    for (const QString& file : files) {
        QJsonObject object = *readObject(file);
        object.insert(QStringLiteral("path"), folder);
        if (!writePrivate(file, object))
            return answer(json, relocation(false, {}, {}, QStringLiteral("写不进配对文件：") + file));
    }
    return answer(json, relocation(true, folder, {}, {}));
}

} // namespace Pairing
