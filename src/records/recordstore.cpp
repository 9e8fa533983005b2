#include "mainwindow.h"

#include "modem.h"
#include "protocol.h"
#include "ui_mainwindow.h"

#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>

// The download's progress has fields of its own at the right of the status
// bar, so that it and the actions' status tips do not write over each other:
// a text, and a bar that is shown only while the download runs.
void MainWindow::setUpDownloadStatus()
{
    downloadClock.start();
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
// sets. The old listing, labels and buttons stay until the new download is
// complete or breaks off.
void MainWindow::datenholen()
{
    // Its progress is followed once the meter is connected (the poll runs).
    download.start(search.portOpen() && search.deviceFound(), downloadClock.elapsed());
    ui->tabWidget->setCurrentIndex(1);
    if (search.portOpen())
        modem->writeString(QString::fromLatin1(Protocol::DownloadCommand));
    showDownloadProgress();
}

// The meter announces a download with the index of its last data set and the
// recording interval in seconds, e.g. "15*60" for 16 data sets a minute apart.
// An empty memory announces -1: that download is complete at once.
void MainWindow::storeDownloadHeader(const QString &text)
{
    const bool wasComplete = download.isComplete();
    download.takeHeader(text, downloadClock.elapsed());
    if (!wasComplete && download.isComplete())
        showDownloadResult();
}

// One data set, "RMS*PEP" in hundredths of a dBm, in the order the meter
// recorded them. The data set at the announced last index completes the
// download.
void MainWindow::storeDataSet(const QString &text)
{
    download.takeDataSet(text, downloadClock.elapsed(), [this] { showDownloadResult(); });
}

// A download that is complete, or has broken off with what arrived: listed,
// and the listing can be refreshed and saved.
void MainWindow::showDownloadResult()
{
    fuellentxt();
    ui->Buttonrefresh->setEnabled(true);
}

// The meter went away: a download that was running ends with what arrived.
void MainWindow::downloadLost()
{
    if (download.lose())
        showDownloadResult();
    showDownloadProgress();
}

// How the download goes, once a poll: waiting for the header, the data sets
// stored of those announced, an interruption when no data set has come for
// 5 s (then what came is listed; it goes on if more come), and the result.
void MainWindow::showDownloadProgress()
{
    if (download.checkStall(downloadClock.elapsed()))
        showDownloadResult();
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
