#include "mainwindow.h"

QString MainWindow::formatPower(double) { return QString(); }
QString MainWindow::formatVoltage(double) { return QString(); }
