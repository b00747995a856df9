// The stand-in companion tool `brenlow`: answers every command the desktop
// application runs, in the shapes the application reads, and can be steered
// through $BRENLOW_SIM_DIR (see README.md).

#include "GatewayCall.h"
#include "Pairing.h"
#include "Reports.h"
#include "Steering.h"
#include "Worker.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QSysInfo>
#include <QThread>
#include <QUrl>

namespace {

const QStringList kTiers { QStringLiteral("read"), QStringLiteral("write"), QStringLiteral("exec"),
    QStringLiteral("web"), QStringLiteral("push"), QStringLiteral("danger") };

// The steering name of a command; empty for one this tool does not know.
QString commandKey(const QStringList& args)
{
    const QString first = args.value(0);
    if (first == QLatin1String("workspaces") || first == QLatin1String("pair") || first == QLatin1String("grant")
        || first == QLatin1String("runtimes") || first == QLatin1String("run"))
        return first;
    if (first == QLatin1String("workspace") && args.value(1) == QLatin1String("relocate"))
        return QStringLiteral("workspace-relocate");
    if (first == QLatin1String("daemon")
        && (args.value(1) == QLatin1String("status") || args.value(1) == QLatin1String("install")))
        return QStringLiteral("daemon-") + args.value(1);
    if (first == QLatin1String("employee") && args.value(1) == QLatin1String("evidence"))
        return QStringLiteral("employee-evidence");
    return {};
}

int usage()
{
    complain(QStringLiteral("usage: brenlow <workspaces | pair | workspace relocate | grant | runtimes | daemon | "
                            "employee evidence | run> [options]"));
    return 2;
}

int grant(const QStringList& args)
{
    const QStringList tiers = args.mid(1);
    if (tiers.isEmpty()) {
        complain(QStringLiteral("usage: brenlow grant <read|write|exec|web|push|danger>..."));
        return 2;
    }
    for (const QString& tier : tiers) {
        if (!kTiers.contains(tier)) {
            say(QStringLiteral("不认识的权限档：%1\n").arg(tier));
            return 2;
        }
    }
    const auto env = QProcessEnvironment::systemEnvironment();
    const QString workspace = env.value(QStringLiteral("TOLVARINE_WS"));
    if (workspace.isEmpty()) {
        say(QStringLiteral("不知道是哪个工作区：在配对过的目录里运行，或者设好 TOLVARINE_WS\n"));
        return 1;
    }
    QString device = env.value(QStringLiteral("TOLVARINE_DEVICE"));
    if (device.isEmpty())
        device = QStringLiteral("cli-") + QSysInfo::machineHostName();
    const QString api = gatewayBase(env.value(QStringLiteral("TOLVARINE_API")));
    const GatewayReply reply = postJson(api,
        QStringLiteral("/_sim/workspaces/") + QString::fromLatin1(QUrl::toPercentEncoding(workspace))
            + QStringLiteral("/grant"),
        { { "device", device }, { "tiers", QJsonArray::fromStringList(tiers) } });
    if (!reply.ok()) {
        say(QStringLiteral("网关没有接受这次授权（%1）：%2\n").arg(api, reply.error));
        return 1;
    }
    say(QStringLiteral("已在这台机器上声明：%1\n").arg(tiers.join(QLatin1Char(' '))));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const Steering steering;
    steering.logCall(args);

    const QString key = commandKey(args);
    if (key.isEmpty())
        return usage();

    if (const auto delay = steering.integer(key + QStringLiteral(".delay_ms")); delay && *delay > 0)
        QThread::msleep(ulong(*delay));

    const auto out = steering.read(key + QStringLiteral(".out"));
    const auto code = steering.integer(key + QStringLiteral(".code"));
    if (out || code) {
        if (out)
            sayRaw(*out);
        return code.value_or(0);
    }

    if (key == QLatin1String("workspaces"))
        return Pairing::workspaces(args);
    if (key == QLatin1String("pair"))
        return Pairing::pair(args);
    if (key == QLatin1String("workspace-relocate"))
        return Pairing::relocate(args);
    if (key == QLatin1String("grant"))
        return grant(args);
    if (key == QLatin1String("runtimes"))
        return Reports::runtimes(args);
    if (key.startsWith(QLatin1String("daemon-")))
        return Reports::daemon(args, steering);
    if (key == QLatin1String("employee-evidence"))
        return Reports::employeeEvidence(args);
    if (key == QLatin1String("run"))
        return Worker::run(steering);
    return usage();
}
