#include "mainwindow.h"

void MainWindow::fuellentxt() {}
void MainWindow::on_Buttonrefresh_clicked()
{
    fuellentxt();
}
