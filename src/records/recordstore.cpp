#include "mainwindow.h"

#include "download.h"
#include "modem.h"
#include "protocol.h"
#include "ui_mainwindow.h"

#include <QCoreApplication>
#include <QStatusBar>

// "&Lesen": forget the last download and ask the meter for its recorded data
// sets. The old listing, labels and buttons stay until the new download is
// complete.
void MainWindow::datenholen()
{
    clearRecordStore();
    ui->tabWidget->setCurrentIndex(1);
    if (search.portOpen()) {
        modem->writeString(QString::fromLatin1(Protocol::DownloadCommand));
        // Its progress is shown once the meter is connected (the poll runs).
        if (search.deviceFound()) {
            downloadState = DownloadState::Running;
            headerSeen = false;
            countAtLastPoll = 0;
            sinceLastDataSet.start();
        }
    }
}

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

// The meter announces a download with the index of its last data set and the
// recording interval in seconds, e.g. "15*60" for 16 data sets a minute apart.
void MainWindow::storeDownloadHeader(const QString &text)
{
    Records::readDownloadHeader(text, &lastRecordIndex, &recordIntervalSec);
    headerSeen = true;
}

// One data set, "RMS*PEP" in hundredths of a dBm, in the order the meter
// recorded them. The data set at the announced last index completes the
// download.
void MainWindow::storeDataSet(const QString &text)
{
    if (!Records::storeDataSet(text, rmsValues, pepValues, RecordCapacity, lastRecordIndex,
                               &recordCount))
        return;
    if (downloadState == DownloadState::Running)
        downloadState = DownloadState::Complete;
    fuellentxt();
    ui->labelsek->setText(QString::asprintf("Zwischenzeit %i Sek.", recordIntervalSec));
    // lastRecordIndex + 1 in 64 bits: the meter may announce any index.
    ui->labelanzahl->setText(
        QString::asprintf("%lld Datensaetze", static_cast<long long>(lastRecordIndex) + 1));
    ui->Buttonrefresh->setEnabled(true);
}

namespace {

constexpr int StallMs = 5000;

QString progressText(bool headerSeen, bool stalled, int stored, int lastIndex)
{
    // Nothing is announced before the header.
    const long long announced = headerSeen ? static_cast<long long>(lastIndex) + 1 : 0;
    if (stalled)
        return QCoreApplication::translate("MainWindow",
                                           "Aufzeichnung unterbrochen: %1 von %2 Datensaetzen")
            .arg(stored)
            .arg(announced);
    if (!headerSeen)
        return QCoreApplication::translate("MainWindow", "Warte auf Aufzeichnung ...");
    const long long percent = announced > 0 ? stored * 100LL / announced : 0;
    return QCoreApplication::translate("MainWindow", "Lese Datensaetze: %1 von %2 (%3 %)")
        .arg(stored)
        .arg(announced)
        .arg(percent);
}

} // namespace

// How the download goes, in the status bar, written once a poll and only
// when it changes: waiting for the header, the data sets stored of those
// announced, an interruption when no data set has come for 5 s, and the
// connection again once the download is complete.
void MainWindow::showDownloadProgress()
{
    if (downloadState == DownloadState::Idle)
        return;
    QString text;
    if (downloadState == DownloadState::Complete || (headerSeen && lastRecordIndex < 0)) {
        // Complete, or the meter announced nothing to send.
        downloadState = DownloadState::Idle;
        text = MeterSearch::foundText(search.portName());
    } else {
        if (recordCount != countAtLastPoll) {
            countAtLastPoll = recordCount;
            sinceLastDataSet.start();
        }
        const int stored = qMin(recordCount, int(RecordCapacity));
        text = progressText(headerSeen, sinceLastDataSet.elapsed() >= StallMs, stored,
                            lastRecordIndex);
    }
    if (text != statusBar()->currentMessage())
        statusBar()->showMessage(text, 0);
}
