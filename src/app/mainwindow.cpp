#include "mainwindow.h"

#include "modem.h"
#include "protocol.h"
#include "trendwindow.h"
#include "ui_mainwindow.h"

#include <QLabel>
#include <QStatusBar>
#include <QTimer>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), ui(new Ui_MainWindow), modem(new Modem),
      search(*modem, MeterSearch::portsLastFoundFirst())
{
    versionText = QStringLiteral("V2.00");
    ui->setupUi(this);
    setUpDownloadStatus();
    setUpListing();

    connect(modem, &Modem::setTtyText, this, &MainWindow::setAText);

    pollTimer = new QTimer;
    // The poll may come a few milliseconds early or late: the bytes wait in
    // the driver's queue, and one run takes in more than a second of the
    // line. A coarse timer lets the system bunch its wake-ups with others'.
    pollTimer->setTimerType(Qt::CoarseTimer);
    connect(pollTimer, &QTimer::timeout, this, &MainWindow::getrs232);

    connect(ui->actiond_holen, &QAction::triggered, this, &MainWindow::datenholen);
    connect(ui->action_Speichern, &QAction::triggered, this, &MainWindow::datenspeichern);

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
#else
    // Built without Qt Charts: "Option" stays empty.
    ui->actionVerlauf->setVisible(false);
#endif

    scanTimer = new QTimer(this);
    // Each step of the search waits at least as long as it says: a coarse
    // timer may fire 5 % early, and a meter that answers "#v;" within its
    // second must not be missed.
    scanTimer->setTimerType(Qt::PreciseTimer);
    connect(scanTimer, &QTimer::timeout, this, &MainWindow::fopentty);
    // The port being tried shows before it is opened, and the title follows.
    connect(&search, &MeterSearch::trying, this, [this](const QString &port) {
        statusBar()->showMessage(MeterSearch::searchingText(port), 0);
    });

    // Beside the search's texts, so that the search does not wipe it out.
    lossLabel = new QLabel(this);
    lossLabel->setObjectName(QStringLiteral("lossLabel"));
    statusBar()->addPermanentWidget(lossLabel);
    // A port that is there but may not be opened, named until a meter answers.
    accessLabel = new QLabel(this);
    accessLabel->setObjectName(QStringLiteral("accessLabel"));
    statusBar()->addPermanentWidget(accessLabel);

    scanTimer->start(search.nextStepMs());
}

MainWindow::~MainWindow()
{
    // Tell the meter to stop streaming while the channel still exists.
    modem->writeString(QString::fromLatin1(Protocol::StopCommand));
    delete ui;
    delete pollTimer;
    // Deleting the channel closes the port.
    delete modem;
}
