#include "app/AppDelegate.h"
#include "app/InstanceGuard.h"
#include "core/gateway/CLI.h"
#include "core/platform/DeskCrumbs.h"
#include "core/platform/QtTranslations.h"
#include "core/runtimes/RuntimeChildLedger.h"
#include "core/shell/WindowController.h"
#include "core/workspaces/RelocationState.h"
#include "gui/shell/MainWindow.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>

int main(int argc, char** argv)
{
    // A launch mark inherited from a worker's tree (a launch from its shell)
    // is that worker's alone: nothing this instance starts may carry it, or the
    // next launch would take it for that worker's and end it.
    qunsetenv(RuntimeChildLedger::kLaunchVariable);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Tolvarine"));
    QCoreApplication::setApplicationName(QStringLiteral("Tolvarine Desktop"));
    // The launcher entry the install step puts in place, and its icon for every window.
    QGuiApplication::setDesktopFileName(QStringLiteral("tolvarine-desktop"));
    // Closing the one window quits, and quitting stops every worker.
    QApplication::setQuitOnLastWindowClosed(true);
    // The standard dialogs (folder pickers, alerts) speak the window's language.
    if (!QtTranslations::install(app))
        DeskCrumbs::drop(
            QStringLiteral("qt.translations: 没找到 Qt 自己的中文翻译（qt6-translations-l10n），标准对话框是英文"));

    // One instance per home: a second launch brings the first one's window
    // forward, or says why it could not.
    InstanceGuard guard;
    switch (guard.claim(QCoreApplication::arguments())) {
    case InstanceGuard::Claim::Instance:
        break;
    case InstanceGuard::Claim::HandedOver:
        return 0;
    case InstanceGuard::Claim::Refused:
        std::fprintf(stderr, "%s\n", guard.refusal().toUtf8().constData());
        return 1;
    }

    AppDelegate delegate;
    delegate.installQuitSignals();
    MainWindow window;
    // What the first frame does not need follows it: the icon (an SVG, read
    // through a plugin), the login shell's PATH, read once off the GUI thread
    // before the first worker starts, the socket later launches hand over
    // through, and the end of launching: the reap of a crashed instance's
    // workers reads the process table on a pool thread, which would compete
    // with the first frame for the processor.
    QObject::connect(&window, &MainWindow::sectionsReady, &app, [&delegate, &guard] {
        QApplication::setWindowIcon(QIcon(QStringLiteral(":/AppIcon.svg")));
        CLI::warmUp();
        guard.startListening();
        delegate.applicationDidFinishLaunching();
    });
    window.show();
    QObject::connect(&guard, &InstanceGuard::comeForwardAsked, &window, [&window](const QString& relocateTo) {
        // A folder given to the later launch is used here as it would have
        // been there: instead of the picker when a moved workspace is found.
        if (!relocateTo.isEmpty()) {
            window.controller()->relocation()->setLaunchArguments({ QCoreApplication::arguments().value(0),
                QString::fromLatin1(RelocationState::kRelocateArgument), relocateTo });
        }
        window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
        window.show();
        window.raise();
        window.activateWindow();
    });
    return app.exec();
}
