#include "mainwindow.h"

#include "identity.h"
#include "largereadout.h"
#include "meterconnection.h"
#include "metersearch.h"
#include "modem.h"
#include "trendwindow.h"
#include "ui_mainwindow.h"

#include <QTimer>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), ui(new Ui_MainWindow), modem(new Modem)
{
    versionText = Identity::versionText();
    ui->setupUi(this);
    setUpDownloadStatus();
    setUpListing();

    connect(modem, &Modem::setTtyText, this, &MainWindow::setAText);

    pollTimer = new QTimer;
    connect(pollTimer, &QTimer::timeout, this, &MainWindow::getrs232);

    connect(ui->actiond_holen, &QAction::triggered, this, &MainWindow::datenholen);
    connect(ui->action_Speichern, &QAction::triggered, this, &MainWindow::datenspeichern);

    scanTimer = new QTimer(this);
    connect(scanTimer, &QTimer::timeout, this, &MainWindow::fopentty);
    connection =
        new MeterConnection(*modem, MeterSearch::portsLastFoundFirst(), scanTimer, pollTimer, this);
    setUpDiscovery();
    setUpLiveDisplay();
    setUpMeasurement();
    setUpLimits();
    connect(connection, &MeterConnection::downloadEnded, this, &MainWindow::showDownloadResult);

    // "Verlauf" is a window of its own beside this one; closing it only hides
    // it, and it does not keep the program running once this window closes.
#ifdef TAVROLD_TREND_WINDOW
    auto *trend = new TrendWindow(history);
    trendWindow.reset(trend);
    trend->setAttribute(Qt::WA_QuitOnClose, false);
    connect(ui->actionVerlauf, &QAction::triggered, trend, &TrendWindow::showAndRaise);
    connect(this, &MainWindow::readingsTaken, trend, &TrendWindow::historyChanged);
    connect(this, &MainWindow::connectionLost, trend, &TrendWindow::historyChanged);
    connect(this, &MainWindow::recordingListed, trend, &TrendWindow::showRecording);
    connect(this, &MainWindow::limitLinesChanged, trend, &TrendWindow::setLimitLines);
#else
    // Built without Qt Charts: "Option" stays empty.
    ui->actionVerlauf->setVisible(false);
#endif
    chartLimits();

    connection->start();
}

MainWindow::~MainWindow()
{
    // Tell the meter to stop streaming while the channel still exists.
    connection->sendStop();
    delete ui;
    delete pollTimer;
    // Deleting the channel closes the port.
    delete modem;
}
