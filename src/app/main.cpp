#include "app/AppDelegate.h"
#include "app/InstanceGuard.h"
#include "core/gateway/CLI.h"
#include "core/platform/DeskCrumbs.h"
#include "core/platform/QtTranslations.h"
#include "gui/shell/MainWindow.h"

#include <QApplication>
#include <QIcon>
#include <QTimer>

int main(int argc, char** argv)
{
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

    // One instance per home: a second launch brings the first one's window forward.
    InstanceGuard guard;
    if (!guard.claim())
        return 0;

    AppDelegate delegate;
    delegate.installQuitSignals();
    MainWindow window;
    // What the first frame does not need follows it: the icon (an SVG, read
    // through a plugin) and the login shell's PATH, read once off the GUI
    // thread before the first worker starts.
    QObject::connect(&window, &MainWindow::sectionsReady, &app, [] {
        QApplication::setWindowIcon(QIcon(QStringLiteral(":/AppIcon.svg")));
        CLI::warmUp();
    });
    window.show();
    QObject::connect(&guard, &InstanceGuard::comeForwardAsked, &window, [&window] {
        window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
        window.show();
        window.raise();
        window.activateWindow();
    });
    // Launching has finished once the event loop runs.
    QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });
    return app.exec();
}
