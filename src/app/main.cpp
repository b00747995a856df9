#include "app/MainWindow.h"
#include "gateway/CLI.h"
#include "runtimes/RuntimeChildLedger.h"
#include "runtimes/RuntimeController.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Tolvarine"));
    QCoreApplication::setApplicationName(QStringLiteral("Tolvarine Desktop"));
    // The login shell's PATH is read once, off the GUI thread, before the first worker starts.
    CLI::warmUp();
    MainWindow window;
    window.show();
    // Workers a crashed earlier run left behind are ended before new ones start.
    RuntimeChildLedger::reapAtLaunch(qint32(QCoreApplication::applicationPid()));
    // Every worker is gone (or killed) before the application exits.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [] { RuntimeController::shared().stopAll(); });
    return app.exec();
}
