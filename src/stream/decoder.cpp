#include "mainwindow.h"

void MainWindow::getrs232() {}
void MainWindow::decodeByte(char) {}
void MainWindow::runMessageHandler() {}
void MainWindow::showLevel(int) {}
void MainWindow::showStatus() {}
