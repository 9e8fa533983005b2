#include "mainwindow.h"

#include "modem.h"
#include "portscan.h"
#include "ui_mainwindow.h"

#include <QTimer>

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui(new Ui_MainWindow)
{
    versionText = QStringLiteral("V2.00");
    // The record store starts as a download request leaves it, so that a data
    // set the meter sends unasked lands in a defined store.
    clearRecordStore();

    ui->setupUi(this);

    modem = new Modem;
    connect(modem, SIGNAL(setTtyText(QString)), this, SLOT(setAText(QString)));

    portOpen = false;

    pollTimer = new QTimer;
    // The poll may come a few milliseconds early or late: the bytes wait in
    // the driver's queue, and one run takes in more than a second of the
    // line. A coarse timer lets the system bunch its wake-ups with others'.
    pollTimer->setTimerType(Qt::CoarseTimer);
    connect(pollTimer, SIGNAL(timeout()), this, SLOT(getrs232()));

    connect(ui->actiond_holen, SIGNAL(triggered()), this, SLOT(datenholen()));
    connect(ui->action_Speichern, SIGNAL(triggered()), this, SLOT(datenspeichern()));

    scanTimer = new QTimer(this);
    // Each step of the search waits at least as long as it says: a coarse
    // timer may fire 5 % early, and a meter that answers "#v;" within its
    // second must not be missed.
    scanTimer->setTimerType(Qt::PreciseTimer);
    connect(scanTimer, SIGNAL(timeout()), this, SLOT(fopentty()));

    portList = PortScan::portNames();

    portIndex = 0;
    awaitingReply = false;
    deviceFound = false;

    scanTimer->start(PortScan::FirstStepMs);

    inMessage = false;
    serialNumber = 0;
    headType = 0;
    maxLevelDbm = 5.0;
    attenuatorDb = 0.0;
}

MainWindow::~MainWindow()
{
    // Tell the meter to stop streaming while the channel still exists.
    modem->writeString(QStringLiteral("#c;"));
    delete ui;
    // The channel and the poll timer live until the process ends; the port is
    // released by the operating system. They are deleted here all the same so
    // that a window made and destroyed many times (as in the tests) leaks
    // nothing.
    delete pollTimer;
    delete modem;
}
