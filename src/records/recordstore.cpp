#include "mainwindow.h"

void MainWindow::datenholen() {}

void MainWindow::clearRecordStore()
{
    lastRecordIndex = 0;
    recordIntervalSec = 1;
    for (int i = 0; i < RecordCapacity; ++i) {
        rmsValues[i] = 0;
        pepValues[i] = 0;
    }
    recordCount = 0;
}

void MainWindow::storeDownloadHeader(const QString &) {}
void MainWindow::storeDataSet(const QString &) {}
