#include "mainwindow.h"

#include "meterconnection.h"
#include "metersearch.h"
#include "protocol.h"
#include "ui_mainwindow.h"

#include <QLabel>
#include <QStatusBar>
#include <QTime>
#include <QTimer>

// The search's texts in the status bar: the port being tried, one that may
// not be opened, a meter found and a meter lost.
void MainWindow::setUpDiscovery()
{
    // Beside the search's texts, so that the search does not wipe it out.
    lossLabel = new QLabel(this);
    lossLabel->setObjectName(QStringLiteral("lossLabel"));
    statusBar()->addPermanentWidget(lossLabel);
    // A port that is there but may not be opened, named until a meter answers.
    accessLabel = new QLabel(this);
    accessLabel->setObjectName(QStringLiteral("accessLabel"));
    statusBar()->addPermanentWidget(accessLabel);

    // The port being tried shows before it is opened, and the title follows.
    connect(connection, &MeterConnection::searching, this, [this](const QString &port) {
        statusBar()->showMessage(MeterSearch::searchingText(port), 0);
    });
    connect(connection, &MeterConnection::portRefused, accessLabel, &QLabel::setText);
    connect(connection, &MeterConnection::meterFound, this, &MainWindow::meterFound);
    connect(connection, &MeterConnection::meterLost, this, &MainWindow::meterLost);
}

// One step of the search for the meter, run by the scan timer: either open
// the next port and ask "#v;", or, a second later, look at the answer.
void MainWindow::fopentty()
{
    connection->searchStep();
}

// The meter has answered and streams: its readings are shown from now on.
void MainWindow::meterFound(const QString &port)
{
    lossLabel->clear();
    accessLabel->clear();
    statusBar()->showMessage(MeterSearch::foundText(port), 0);
    setAText(port);
    ui->tabWidget->setEnabled(true);
}

// The meter has gone from its port while it was connected: say so and take
// its readings off the display; the connection searches again. What was
// downloaded stays, and can still be listed and saved. The loss stays on show
// beside the search's texts until a meter answers again.
void MainWindow::meterLost(const QString &port)
{
    showDownloadProgress();
    statusBar()->showMessage(tr("Verbindung verloren: ") + port, 0);
    lossLabel->setText(tr("Verbindung verloren um %1 (%2)")
                           .arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")), port));
    clearLiveValues();
    // The connection knows nothing of the limits until the next reading.
    for (auto &reading : lastReadings)
        reading.reset();
    showLimits();
    history.markGap();
    emit connectionLost();
}

// The window title: program, version, firmware and the port being shown.
void MainWindow::setAText(QString port)
{
    const MeterSearch &search = connection->meterSearch();
    const QString firmware = search.deviceFound() ? Protocol::firmwareText(search.firmwareNumber())
                                                  : QStringLiteral("FW:?");
    setWindowTitle(tr("Tavrolinde") + QStringLiteral(" - ") + versionText + QStringLiteral(" - ") +
                   firmware + QStringLiteral(" - ") + port);
}
