#include "mainwindow.h"

#include "recordformat.h"
#include "ui_mainwindow.h"

// Lists the downloaded data sets in the "Daten" page: number, time of day,
// RMS and PEP, the time counted from the start time in the time edit. The
// whole text is built first and handed to the browser in one go; appending
// the rows one by one makes the same document but lays it out again for every
// row, which takes seconds for a full store.
void MainWindow::fuellentxt()
{
    const QTime start = ui->timeEdit->time();
    const int count = Records::shownCount(lastRecordIndex, RecordCapacity);
    ui->textBrowser->setPlainText(
        Records::listingText(start, recordIntervalSec, rmsValues, pepValues, count));
    ui->action_Speichern->setEnabled(true);
}

// Rebuilds the listing with the start time now in the time edit.
void MainWindow::on_Buttonrefresh_clicked()
{
    fuellentxt();
}
