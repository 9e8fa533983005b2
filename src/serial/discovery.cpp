#include "mainwindow.h"

#include "modem.h"
#include "portscan.h"
#include "protocol.h"
#include "ui_mainwindow.h"

#include <QStatusBar>
#include <QTimer>

// One step of the search for the meter, run by the scan timer: either open
// the next port and ask "#v;", or, a second later, look at the answer.
void MainWindow::fopentty()
{
    if (awaitingReply) {
        // Reply check: whatever came in the last second counts, nothing later.
        firmwareNumber = 0;
        awaitingReply = false;
        if (portOpen) {
            char reply[Protocol::ReplyLength] = {};
            const int count = modem->readBytes(reply, Protocol::ReplyLength);
            if (Protocol::isIdentificationReply(reply, count, &firmwareNumber)) {
                deviceFound = true;
                scanTimer->stop();
                statusBar()->showMessage(tr("HW gefunden an: ") + portName, 0);
                setAText(portName);
                modem->writeString(QString::fromLatin1(Protocol::StreamCommand));
                pollTimer->start(100);
                rxHead = 0;
                rxTail = 0;
                resetMessageState();
                ui->tabWidget->setEnabled(true);
                return;
            }
        }
        // No meter here: close the port and try the next one.
        advancePortIndex();
        scanTimer->start(PortScan::AfterNoReplyMs);
        modem->closePort();
        portOpen = false;
        return;
    }

    if (portOpen)
        return;

    portName = portList.at(portIndex);
    statusBar()->showMessage(QStringLiteral("Suche HW :") + portName, 0);
    portOpen = modem->openPort(portName);
    if (portOpen) {
        modem->writeString(QString::fromLatin1(Protocol::IdentifyCommand));
        awaitingReply = true;
        scanTimer->start(PortScan::ReplyWaitMs);
    } else {
        advancePortIndex();
        scanTimer->start(PortScan::AfterFailedOpenMs);
        awaitingReply = false;
        // Releases whatever a half-finished open may have left behind.
        modem->closePort();
    }
}

// The meter has gone from its port while it was connected: say so, let go
// of the port, take its readings off the display and search again as at
// start-up, beginning with the port it was on. What was downloaded stays, and
// can still be listed and saved.
void MainWindow::meterLost()
{
    pollTimer->stop();
    downloadState = DownloadState::Idle;
    deviceFound = false; // the title shows "FW:?" until a meter answers again
    modem->closePort();
    portOpen = false;
    statusBar()->showMessage(tr("Verbindung verloren: ") + portName, 0);
    clearLiveValues();
    scanTimer->start(PortScan::FirstStepMs);
}

void MainWindow::advancePortIndex()
{
    portIndex = PortScan::nextIndex(portIndex, int(portList.size()));
}

// The window title: program, version, firmware and the port being shown.
void MainWindow::setAText(QString port)
{
    const QString firmware =
        deviceFound ? Protocol::firmwareText(firmwareNumber) : QStringLiteral("FW:?");
    setWindowTitle(tr("Tavrolinde") + QStringLiteral(" - ") + versionText + QStringLiteral(" - ") +
                   firmware + QStringLiteral(" - ") + port);
}
