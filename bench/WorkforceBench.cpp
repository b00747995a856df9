// The shared workforce derivation at the large workspace (2,000 commands, 60
// employees): the facts, the collaboration graph and the serving map derived
// once, as the window does per publication of the status model, against a
// floor of one pass over the same commands and roster. Then the team section
// with its grid and an open detail, reloaded with nothing changed: the widgets
// that reload creates (none is the goal).
//
//   tolvarine-bench-workforce [--rounds N]

#include "core/gateway/Status.h"
#include "core/shell/WindowController.h"
#include "core/workforce/WorkforceModel.h"
#include "core/workforce/WorkforceSnapshot.h"
#include "gui/workforce/TeamSection.h"

#include <QApplication>
#include <QChildEvent>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <QCoroTask>

#include <algorithm>
#include <cstdio>

namespace {

double fastest(const QList<double>& v)
{
    return v.isEmpty() ? 0 : *std::min_element(v.begin(), v.end());
}

double msSince(const QElapsedTimer& t)
{
    return t.nsecsElapsed() / 1e6;
}

// Counts the widgets made anywhere in the process while it is installed.
class WidgetCounter : public QObject {
public:
    qint64 created = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::ChildAdded) {
            QObject* child = static_cast<QChildEvent*>(event)->child();
            if (child->isWidgetType() && !m_seen.contains(child)) {
                m_seen.insert(child);
                ++created;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QSet<QObject*> m_seen;
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption roundsOption(
        QStringLiteral("rounds"), QStringLiteral("measured rounds"), QStringLiteral("n"), QStringLiteral("30"));
    parser.addOption(roundsOption);
    parser.addHelpOption();
    parser.process(app);
    const int rounds = std::max(1, parser.value(roundsOption).toInt());

    QTemporaryDir dir;
    const QString scenario = dir.filePath(QStringLiteral("large.json"));
    if (QProcess::execute(QStringLiteral(TOLVARINE_GATEWAY_SIM), { QStringLiteral("--generate-large"), scenario })
        != 0) {
        std::fprintf(stderr, "could not generate the large scenario\n");
        return 1;
    }
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QStringLiteral(TOLVARINE_GATEWAY_SIM),
        { QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--scenario"), scenario });
    if (!sim.waitForStarted(10000) || !sim.waitForReadyRead(20000)) {
        std::fprintf(stderr, "the stand-in gateway did not start\n");
        return 1;
    }
    const QByteArray first = sim.readLine().trimmed();
    if (!first.startsWith("listening ")) {
        std::fprintf(stderr, "unexpected first line from the stand-in gateway: %s\n", first.constData());
        return 1;
    }
    CLIConfig config;
    config.api = QStringLiteral("http://127.0.0.1:") + QString::fromLatin1(first.mid(10));
    config.workspace = QStringLiteral("ws-large");
    config.token = QStringLiteral("large-token");
    config.device = QStringLiteral("bench-device");

    WindowController controller;
    Status& status = *controller.status();
    QCoro::waitFor(status.reload(config));
    if (status.commands().size() < 2000 || status.team().size() < 60) {
        std::fprintf(stderr, "the large workspace did not load\n");
        return 1;
    }

    // The derivation, and the least any derivation does: one pass over the
    // commands and one over the roster.
    const WorkforceSnapshot::Inputs in = WorkforceSnapshot::Inputs::gather(status, {});
    qint64 sink = 0;
    QList<double> derived;
    QList<double> passes;
    for (int i = 0; i < rounds + 2; ++i) {
        QElapsedTimer t;
        t.start();
        QHash<QString, qint64> perEmployee;
        for (const CommandBrief& command : in.commands)
            ++perEmployee[command.employeeID];
        for (const TeammateBrief& teammate : in.team)
            sink += perEmployee.value(teammate.id);
        passes.append(msSince(t));

        t.restart();
        const WorkforceSnapshot s = WorkforceSnapshot::derive(in);
        derived.append(msSince(t));
        sink += s.workforceFacts.size() + s.collabGraph.edges.size() + s.runtimeServing.size();
    }
    const double derivation = fastest(derived);
    const double pass = fastest(passes);

    // The team section over the same workspace, one employee open; an
    // unchanged reload, then the widgets it made.
    TeamSection section(&controller);
    section.setContentWidth(1180);
    section.resize(1180, 800);
    controller.setSelectedEmployee(status.team().first().id);
    QCoreApplication::processEvents();
    WidgetCounter counter;
    app.installEventFilter(&counter);
    const quint64 before = controller.workforce()->derivations();
    QCoro::waitFor(status.reload(config));
    QCoreApplication::processEvents();
    app.removeEventFilter(&counter);
    const quint64 perReload = controller.workforce()->derivations() - before;

    sim.kill();
    sim.waitForFinished();

    QTextStream out(stdout);
    out << "workforce derivation: ws-large (" << in.commands.size() << " commands, " << in.team.size()
        << " employees), fastest of " << rounds << " rounds\n";
    out << QStringLiteral("%1 %2 %3 %4\n")
               .arg(QString(), -40)
               .arg(QStringLiteral("floor"), 10)
               .arg(QStringLiteral("measured"), 10)
               .arg(QStringLiteral("ratio"), 8);
    out << QStringLiteral("%1 %2 %3 %4\n")
               .arg(QStringLiteral("facts, graph, serving map (ms)"), -40)
               .arg(pass, 10, 'f', 3)
               .arg(derivation, 10, 'f', 3)
               .arg(derivation / std::max(pass, 0.001), 8, 'f', 1);
    out << "target: under 5 ms\n";
    out << "derivations during an unchanged reload: " << perReload << "\n";
    out << "widgets created by an unchanged reload of the team section (" << section.cards().size()
        << " cards, one detail open): " << counter.created << "\n";
    out << "target: 0\n";
    if (sink < 0)
        out << sink << "\n";
    return 0;
}
