#include "app/MainWindow.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Tolvarine"));
    QCoreApplication::setApplicationName(QStringLiteral("Tolvarine Desktop"));
    MainWindow window;
    window.show();
    return app.exec();
}
