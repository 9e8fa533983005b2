#include "mainwindow.h"

#include "modem.h"
#include "protocol.h"
#include "ui_mainwindow.h"

#include <QLabel>
#include <QStatusBar>
#include <QTime>
#include <QTimer>

// One step of the search for the meter, run by the scan timer: either open
// the next port and ask "#v;", or, a second later, look at the answer.
void MainWindow::fopentty()
{
    switch (search.step()) {
    case MeterSearch::Step::Found:
        meterFound();
        break;
    case MeterSearch::Step::Idle:
        break;
    case MeterSearch::Step::NotOpened:
        // A port that is missing says nothing; one the user may not open
        // says why.
        if (const QString why = modem->openFailureText(); !why.isEmpty())
            accessLabel->setText(why);
        scanTimer->start(search.nextStepMs());
        break;
    default:
        scanTimer->start(search.nextStepMs());
        break;
    }
}

// The meter has answered: switch it to streaming and read its stream from
// now on (what came after its reply is read first).
void MainWindow::meterFound()
{
    scanTimer->stop();
    lossLabel->clear();
    accessLabel->clear();
    MeterSearch::rememberPort(search.portName());
    statusBar()->showMessage(MeterSearch::foundText(search.portName()), 0);
    setAText(search.portName());
    modem->writeString(QString::fromLatin1(Protocol::StreamCommand));
    pollTimer->start(PollMs);
    stream.restart();
    ui->tabWidget->setEnabled(true);
}

// The meter has gone from its port while it was connected: say so, let go
// of the port, take its readings off the display and search again as at
// start-up, beginning with the port it was on. What was downloaded stays, and
// can still be listed and saved. The loss stays on show beside the search's
// texts until a meter answers again.
void MainWindow::meterLost()
{
    pollTimer->stop();
    downloadLost();
    search.meterLost(); // the title shows "FW:?" until a meter answers again
    statusBar()->showMessage(tr("Verbindung verloren: ") + search.portName(), 0);
    lossLabel->setText(
        tr("Verbindung verloren um %1 (%2)")
            .arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")), search.portName()));
    clearLiveValues();
    history.markGap();
    emit connectionLost();
    scanTimer->start(search.nextStepMs());
}

// The window title: program, version, firmware and the port being shown.
void MainWindow::setAText(QString port)
{
    const QString firmware = search.deviceFound() ? Protocol::firmwareText(search.firmwareNumber())
                                                  : QStringLiteral("FW:?");
    setWindowTitle(tr("Tavrolinde") + QStringLiteral(" - ") + versionText + QStringLiteral(" - ") +
                   firmware + QStringLiteral(" - ") + port);
}
