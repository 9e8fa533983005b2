#include "mainwindow.h"

#include "meterconnection.h"
#include "ui_mainwindow.h"

#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>

// The download's progress has fields of its own at the right of the status
// bar, so that it and the actions' status tips do not write over each other:
// a text, and a bar that is shown only while the download runs.
void MainWindow::setUpDownloadStatus()
{
    downloadStatus = new QLabel(this);
    downloadStatus->setObjectName(QStringLiteral("downloadStatus"));
    downloadStatus->hide();
    statusBar()->addPermanentWidget(downloadStatus);
    downloadProgress = new QProgressBar(this);
    downloadProgress->setObjectName(QStringLiteral("downloadProgress"));
    downloadProgress->setMaximumWidth(160);
    downloadProgress->hide();
    statusBar()->addPermanentWidget(downloadProgress);
}

// "&Lesen": forget the last download and ask the meter for its recorded data
// sets; the command goes only to a meter that has answered. The old listing,
// labels and buttons stay until the new download is complete or breaks off.
void MainWindow::datenholen()
{
    connection->requestDownload();
    ui->tabWidget->setCurrentIndex(1);
    showDownloadProgress();
}

// A download that is complete, or has ended with what arrived (no data set
// for 5 s, the meter gone): listed, and the listing can be refreshed and
// saved. A stalled one goes on if more come.
void MainWindow::showDownloadResult()
{
    fuellentxt();
    ui->Buttonrefresh->setEnabled(true);
}

// How the download goes, once a poll: waiting for the header, the data sets
// stored of those announced, an interruption, and the result.
void MainWindow::showDownloadProgress()
{
    const DownloadSession &download = connection->download();
    const QString text = download.progressText();
    if (downloadStatus->text() != text)
        downloadStatus->setText(text);
    downloadStatus->setVisible(!text.isEmpty());

    const bool running = download.isRunning();
    if (running) {
        prepareListing();
        // Before the header the bar only shows that something is going on.
        const int all = int(qMin<qint64>(download.announced(), DownloadSession::Capacity));
        downloadProgress->setRange(0, download.headerSeen() ? qMax(all, 1) : 0);
        downloadProgress->setValue(qMin(download.received(), all));
    }
    downloadProgress->setVisible(running);
}
