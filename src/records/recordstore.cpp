#include "mainwindow.h"

#include "download.h"
#include "modem.h"
#include "protocol.h"
#include "ui_mainwindow.h"

// "&Lesen": forget the last download and ask the meter for its recorded data
// sets. The old listing, labels and buttons stay until the new download is
// complete.
void MainWindow::datenholen()
{
    clearRecordStore();
    ui->tabWidget->setCurrentIndex(1);
    if (portOpen)
        modem->writeString(QString::fromLatin1(Protocol::DownloadCommand));
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
}

// One data set, "RMS*PEP" in hundredths of a dBm, in the order the meter
// recorded them. The data set at the announced last index completes the
// download.
void MainWindow::storeDataSet(const QString &text)
{
    if (!Records::storeDataSet(text, rmsValues, pepValues, RecordCapacity, lastRecordIndex,
                               &recordCount))
        return;
    fuellentxt();
    ui->labelsek->setText(QString::asprintf("Zwischenzeit %i Sek.", recordIntervalSec));
    // lastRecordIndex + 1 in 64 bits: the meter may announce any index.
    ui->labelanzahl->setText(
        QString::asprintf("%lld Datensaetze", static_cast<long long>(lastRecordIndex) + 1));
    ui->Buttonrefresh->setEnabled(true);
}
