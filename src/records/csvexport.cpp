#include "mainwindow.h"

void MainWindow::datenspeichern() {}
