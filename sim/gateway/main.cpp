// tolvarine-gateway-sim: the stand-in workspace gateway for tests and demos.
//   tolvarine-gateway-sim --port N --scenario FILE
//   tolvarine-gateway-sim --generate-large FILE [--shape commands=N,employees=N,…]
#include "GatewaySim.h"
#include "LargeScenario.h"
#include "SimState.h"

#include "core/gateway/Json.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QSaveFile>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tolvarine-gateway-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Stand-in workspace gateway"));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Port on 127.0.0.1 (0: any free port)."),
        QStringLiteral("port"), QStringLiteral("18091"));
    const QCommandLineOption scenarioOption(
        QStringLiteral("scenario"), QStringLiteral("Scenario file."), QStringLiteral("file"));
    const QCommandLineOption largeOption(QStringLiteral("generate-large"),
        QStringLiteral("Write the large benchmark scenario to the file and exit."), QStringLiteral("file"));
    const QCommandLineOption shapeOption(QStringLiteral("shape"),
        QStringLiteral("With --generate-large: sizes other than the large scenario's (see LargeScenario.h)."),
        QStringLiteral("key=value,…"));
    parser.addOptions({ portOption, scenarioOption, largeOption, shapeOption });
    parser.process(app);

    if (parser.isSet(largeOption)) {
        QString error;
        const std::optional<LargeScenario::Shape> shape
            = LargeScenario::Shape::parse(parser.value(shapeOption), &error);
        if (!shape) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        QSaveFile out(parser.value(largeOption));
        const QByteArray bytes = LargeScenario::generate(*shape);
        const bool written = out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() && out.flush();
        if (!written)
            out.cancelWriting();
        if (!out.commit() || !written) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(parser.value(largeOption)));
            return 1;
        }
        return 0;
    }

    SimState state;
    if (parser.isSet(scenarioOption)) {
        QFile file(parser.value(scenarioOption));
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(file.fileName()));
            return 1;
        }
        const auto scenario = json::parseObject(file.readAll());
        QString error = QStringLiteral("not a JSON object");
        if (!scenario || !state.load(*scenario, &error)) {
            std::fprintf(stderr, "bad scenario %s: %s\n", qPrintable(file.fileName()), qPrintable(error));
            return 1;
        }
    }

    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (!portOk || port > 65535) {
        std::fprintf(stderr, "bad port %s\n", qPrintable(parser.value(portOption)));
        return 1;
    }
    GatewaySim server(std::move(state));
    const quint16 bound = server.listen(QHostAddress::LocalHost, quint16(port));
    if (bound == 0) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1:%u\n", port);
        return 1;
    }
    std::printf("listening %u\n", unsigned(bound));
    std::fflush(stdout);
    return app.exec();
}
