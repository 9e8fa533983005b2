#include "mainwindow.h"

#include "listingdocument.h"
#include "meterconnection.h"
#include "ui_mainwindow.h"

// The listing's document is made ready while the data sets come in and when
// the start time changes, so that listing them holds the window up only for
// what is left to do.
void MainWindow::setUpListing()
{
    listingDocument = new ListingDocument(ui->textBrowser);
    connect(ui->timeEdit, &QTimeEdit::timeChanged, this, &MainWindow::prepareListing);
}

void MainWindow::prepareListing()
{
    if (connection->download().resultCount() > 0)
        listingDocument->prepare(connection->download().listingText(ui->timeEdit->time()));
}

// Lists the downloaded data sets in the "Daten" page: number, time of day,
// RMS and PEP, the time counted from the start time in the time edit, and
// above them the interval and how many data sets there are. A download that
// broke off lists what arrived and says how many of how many. The whole text
// is in the browser when this returns; appending the rows one by one makes
// the same document but lays it out again for every row, which takes seconds
// for a full store.
void MainWindow::fuellentxt()
{
    const QTime start = ui->timeEdit->time();
    listingDocument->show(connection->download().listingText(start));
    ui->labelsek->setText(tr("Zwischenzeit %1 Sek.").arg(connection->download().recordIntervalSec));
    ui->labelanzahl->setText(connection->download().countText());
    ui->action_Speichern->setEnabled(true);
    // The chart of the recording shows the same data sets at the same times.
    emit recordingListed(start, connection->download());
}

// Rebuilds the listing with the start time now in the time edit.
void MainWindow::on_Buttonrefresh_clicked()
{
    fuellentxt();
}
