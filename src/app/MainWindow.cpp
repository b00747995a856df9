#include "app/MainWindow.h"

MainWindow::MainWindow(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("main.window"));
    setWindowTitle(QStringLiteral("Tolvarine Desktop"));
    setMinimumSize(640, 520);
    resize(840, 720);
}
