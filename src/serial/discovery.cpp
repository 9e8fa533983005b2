#include "mainwindow.h"

void MainWindow::fopentty() {}

void MainWindow::setAText(QString port)
{
    Q_UNUSED(port);
}
