// The link to the meter as the user follows it: a meter that goes away while
// connected (its line closed, as when the cable is pulled) is noticed, its
// readings leave the display and the search starts again, which finds it when
// it comes back; a meter that is merely silent stays connected; a download
// shows how far it has come, and when it stops coming.

#include "mainwindow.h"
#include "mainwindowtestaccess.h"
#include "portssandbox.h"
#include "ptymeter.h"
#include "savedialogdriver.h"
#include "windowrecorder.h"

#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <sys/resource.h>

using Access = MainWindowTestAccess;

namespace {

const QByteArray Reply("M\x15", 2);
const QString Lost = QStringLiteral("Tavrolinde - V2.00 - FW:? - ?");

QString labelText(const MainWindow &window, const char *name)
{
    const auto *label = window.findChild<QLabel *>(QLatin1String(name));
    return label ? label->text() : QStringLiteral("<no %1>").arg(QLatin1String(name));
}

QStringList liveValues(const MainWindow &window)
{
    return {labelText(window, "labelNdbmrms"),  labelText(window, "labelNvoltrms"),
            labelText(window, "labelNwattrms"), labelText(window, "labelNdbmpep"),
            labelText(window, "labelNvoltpep"), labelText(window, "labelNwattpep")};
}

// Processor time this process has used, in milliseconds.
qint64 cpuMs()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

// A window connected to a meter on a pseudo-terminal, its title and status
// bar recorded.
struct Connected
{
    explicit Connected(const QString &port = QStringLiteral("COM1"))
        : meter(std::make_unique<PtyMeter>(sandbox, port))
    {
        meter->setReply("#v;", Reply);
        clock.start();
        window = std::make_unique<MainWindow>();
        recorder = std::make_unique<WindowRecorder>(*window, clock);
        QObject::connect(Access::pollTimer(*window), &QTimer::timeout, window.get(),
                         [this] { ++polls; });
    }
    bool waitFound(int timeoutMs = 15000)
    {
        return QTest::qWaitFor([&] { return Access::deviceFound(*window); }, timeoutMs) &&
               meter->waitForReceived("#v;#o;");
    }
    // "Aufzeichnung, Lesen", until the meter has the request.
    bool requestDownload()
    {
        Access::requestDownload(*window);
        return meter->waitForReceived("#d;");
    }
    QString status() const { return window->statusBar()->currentMessage(); }
    bool waitStatus(const QString &text, int timeoutMs = 5000)
    {
        return QTest::qWaitFor([&] { return status() == text; }, timeoutMs);
    }
    // The download's own field in the status bar.
    bool waitProgress(const QString &text, int timeoutMs = 5000)
    {
        return QTest::qWaitFor([&] { return labelText(*window, "downloadStatus") == text; },
                               timeoutMs);
    }

    PortsSandbox sandbox;
    std::unique_ptr<PtyMeter> meter;
    QElapsedTimer clock;
    // The polls of the line the window has made: a lost meter is noticed by
    // the first poll after its line closed, however busy the machine is.
    int polls = 0;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<WindowRecorder> recorder;
};

QByteArray dataSets(int from, int count)
{
    QByteArray bytes;
    for (int i = from; i < from + count; ++i)
        bytes += "@d" + QByteArray::number(-1000 - i) + "*" + QByteArray::number(-900 - i) + ";";
    return bytes;
}

} // namespace

class TestConnection : public QObject
{
    Q_OBJECT

private slots:
    void lostWhileStreaming();
    void lostWhileDownloading();
    void foundAgain_data();
    void foundAgain();
    void silentMeterStaysConnected();
    void downloadInterrupted();
};

void TestConnection::lostWhileStreaming()
{
    Connected c(QStringLiteral("COM3"));
    QVERIFY(c.waitFound());
    c.meter->send("@s0*7*12.5*20*1;@a-23.4;@b13.0;");
    QTRY_COMPARE(labelText(*c.window, "labelNwattpep"), QStringLiteral("19.95 mW"));
    const QStringList status = {labelText(*c.window, "labeladxx"),
                                labelText(*c.window, "labelmknr"), labelText(*c.window, "labeldbm"),
                                labelText(*c.window, "labelattdb"),
                                labelText(*c.window, "labelzsatz")};

    const int pollsBefore = c.polls;
    c.meter->vanish();
    QTRY_COMPARE_WITH_TIMEOUT(c.window->windowTitle(), Lost, 10000);
    int from = 0;
    const qint64 noticed =
        c.recorder->find(QStringLiteral("status Verbindung verloren: COM3"), &from);
    QVERIFY2(noticed >= 0, qPrintable(c.recorder->dump()));
    // The poll that notices the loss is the last one.
    QVERIFY2(
        c.polls - pollsBefore == 1,
        qPrintable(
            QStringLiteral("noticed by poll %1 after the line closed").arg(c.polls - pollsBefore)));

    // No reading of the meter that has gone looks live; what it last said
    // about itself stays.
    QCOMPARE(liveValues(*c.window), QStringList({"dBm", "V", "W", "dBm", "V", "W"}));
    QCOMPARE(QStringList({labelText(*c.window, "labeladxx"), labelText(*c.window, "labelmknr"),
                          labelText(*c.window, "labeldbm"), labelText(*c.window, "labelattdb"),
                          labelText(*c.window, "labelzsatz")}),
             status);
    QVERIFY(c.window->findChild<QTabWidget *>(QStringLiteral("tabWidget"))->isEnabled());
    QVERIFY(!Access::portOpen(*c.window));
    QVERIFY(!Access::pollTimer(*c.window)->isActive());

    // The loss stays on show beside the search's texts.
    const auto *loss = c.window->findChild<QLabel *>(QStringLiteral("lossLabel"));
    QVERIFY(loss);
    const QString lossText = loss->text();
    QVERIFY2(QRegularExpression(QStringLiteral("^Verbindung verloren um \\d\\d:\\d\\d:\\d\\d "
                                               "\\(COM3\\)$"))
                 .match(lossText)
                 .hasMatch(),
             qPrintable(lossText));

    // The search starts again as at start-up, with the meter's port, and
    // wraps on; meanwhile the program is idle.
    const qint64 cpuBefore = cpuMs();
    QTest::qWait(10000);
    const qint64 cpuUsed = cpuMs() - cpuBefore;
    QVERIFY2(cpuUsed < 2000, qPrintable(QStringLiteral("%1 ms of processor time in 10 s of "
                                                       "searching")
                                            .arg(cpuUsed)));
    QCOMPARE(loss->text(), lossText);
    QVERIFY(!loss->isHidden());
    QVERIFY2(c.status().startsWith(QStringLiteral("Suche HW :")), qPrintable(c.status()));
    const QStringList probed = c.recorder->texts(QStringLiteral("status Suche HW :"), from);
    QVERIFY2(probed.size() >= 3, qPrintable(c.recorder->dump()));
    QCOMPARE(probed.mid(0, 3), QStringList({"COM3", "COM4", "COM5"}));
    const qint64 searched = c.recorder->find(QStringLiteral("status Suche HW :COM3"), &from);
    QVERIFY2(searched - noticed >= 199, qPrintable(c.recorder->dump()));
    QVERIFY(c.window->windowTitle().startsWith(QStringLiteral("Tavrolinde - V2.00 - FW:? - ")));
}

void TestConnection::lostWhileDownloading()
{
    Connected c;
    QVERIFY(c.waitFound());
    QVERIFY(c.requestDownload());
    c.meter->send("@k9*60;" + dataSets(0, 4));
    QVERIFY2(c.waitProgress(QStringLiteral("Lese Datensaetze: 4 von 10 (40 %)")),
             qPrintable(c.recorder->dump()));

    const int pollsBefore = c.polls;
    c.meter->vanish();
    QVERIFY2(c.waitStatus(QStringLiteral("Verbindung verloren: COM1"), 10000),
             qPrintable(c.recorder->dump()));
    QCOMPARE(c.polls - pollsBefore, 1); // noticed by the first poll after the line closed
    // What arrived is listed and can be saved; the page says it is not all.
    QVERIFY(c.waitProgress(QStringLiteral("Aufzeichnung abgebrochen: 4 von 10 Datensaetzen")));
    QCOMPARE(labelText(*c.window, "labelanzahl"), QStringLiteral("4 von 10 Datensaetzen"));
    QCOMPARE(Access::lastRecordIndex(*c.window), 9);
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(Access::rmsValues(*c.window)[i], -1000 - i);
        QCOMPARE(Access::pepValues(*c.window)[i], -900 - i);
    }
    // "Refresh" lists the same, and they are saved as they are listed.
    QTest::mouseClick(c.window->findChild<QPushButton *>(QStringLiteral("Buttonrefresh")),
                      Qt::LeftButton);
    QCOMPARE(labelText(*c.window, "labelanzahl"), QStringLiteral("4 von 10 Datensaetzen"));
    QTemporaryDir dir;
    const QString fileName = dir.filePath(QStringLiteral("after-loss.csv"));
    {
        DialogDriver driver(fileName);
        c.window->findChild<QAction *>(QStringLiteral("action_Speichern"))->trigger();
        QVERIFY(driver.seen.shown);
    }
    QFile file(fileName);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("Datensatz;Zeit;RMS;PEP\r\n"
                                        "    1;00:01:00;-10.00;-9.00\r\n"
                                        "    2;00:02:00;-10.01;-9.01\r\n"
                                        "    3;00:03:00;-10.02;-9.02\r\n"
                                        "    4;00:04:00;-10.03;-9.03\r\n"));
}

void TestConnection::foundAgain_data()
{
    QTest::addColumn<QString>("lostOn");
    QTest::addColumn<QString>("backOn");
    QTest::addColumn<QStringList>("probed");
    QTest::newRow("the same name") << "COM3"
                                   << "COM3" << QStringList{"COM3"};
    QTest::newRow("past COM20") << "COM20"
                                << "COM2" << QStringList{"COM20", "COM1", "COM2"};
}

void TestConnection::foundAgain()
{
    QFETCH(QString, lostOn);
    QFETCH(QString, backOn);
    QFETCH(QStringList, probed);

    Connected c(lostOn);
    QVERIFY(c.waitFound(40000));
    // The old line ends in the middle of a message.
    c.meter->send("@a-1");
    QTest::qWait(300);
    c.meter->vanish();
    QTRY_COMPARE_WITH_TIMEOUT(c.window->windowTitle(), Lost, 5000);
    const int lostAt = int(c.recorder->events.size());

    // The meter comes back, with other firmware. Where it was, nothing is
    // left (a pulled adapter's device is gone).
    c.meter.reset();
    c.sandbox.block(lostOn);
    PtyMeter again(c.sandbox, backOn);
    again.setReply("#v;", QByteArray("M\x23", 2));
    QTRY_VERIFY_WITH_TIMEOUT(Access::deviceFound(*c.window), 20000);
    QVERIFY(again.waitForReceived("#v;#o;"));
    QCOMPARE(again.received(), QByteArray("#v;#o;"));
    QCOMPARE(c.window->windowTitle(), QStringLiteral("Tavrolinde - V2.00 - FW:3.xx - ") + backOn);
    QCOMPARE(c.status(), QStringLiteral("HW gefunden an: ") + backOn);
    QCOMPARE(c.window->findChild<QLabel *>(QStringLiteral("lossLabel"))->text(), QString());
    QVERIFY(Access::pollTimer(*c.window)->isActive());
    QVERIFY(!Access::scanTimer(*c.window)->isActive());

    QCOMPARE(c.recorder->texts(QStringLiteral("status Suche HW :"), lostAt), probed);

    // Nothing of the old line's half message is joined to the new line.
    again.send("5.0;@b-3.0;");
    QTRY_COMPARE(labelText(*c.window, "labelNdbmpep"), QStringLiteral("-3.0 dBm"));
    QCOMPARE(labelText(*c.window, "labelNdbmrms"), QStringLiteral("dBm"));
}

void TestConnection::silentMeterStaysConnected()
{
    Connected c(QStringLiteral("COM2"));
    QVERIFY(c.waitFound());
    const QString title = c.window->windowTitle();
    c.meter->send("@a-10.0;");
    QTRY_COMPARE(labelText(*c.window, "labelNdbmrms"), QStringLiteral("-10.0 dBm"));

    QTest::qWait(2000);
    QCOMPARE(c.window->windowTitle(), title);
    QCOMPARE(c.status(), QStringLiteral("HW gefunden an: COM2"));
    QVERIFY(Access::portOpen(*c.window));
    QVERIFY(Access::pollTimer(*c.window)->isActive());
    QCOMPARE(labelText(*c.window, "labelNdbmrms"), QStringLiteral("-10.0 dBm"));
    c.meter->send("@a-11.0;");
    QTRY_COMPARE(labelText(*c.window, "labelNdbmrms"), QStringLiteral("-11.0 dBm"));
}

void TestConnection::downloadInterrupted()
{
    Connected c;
    QVERIFY(c.waitFound());
    QVERIFY(c.requestDownload());
    c.meter->send("@k9*60;" + dataSets(0, 3));
    const qint64 lastDataSet = c.clock.elapsed();
    QVERIFY(c.waitProgress(QStringLiteral("Lese Datensaetze: 3 von 10 (30 %)")));

    // Live readings go on; no data set comes for 5 s. What came is listed.
    QTimer live;
    connect(&live, &QTimer::timeout, c.meter.get(), [&] { c.meter->send("@a-10.0;"); });
    live.start(200);
    const QString stalled = QStringLiteral("Aufzeichnung unterbrochen: 3 von 10 Datensaetzen");
    QVERIFY2(c.waitProgress(stalled, 60000), qPrintable(c.recorder->dump()));
    QVERIFY2(c.clock.elapsed() - lastDataSet >= 5000,
             qPrintable(QStringLiteral("shown %1 ms after the last data set")
                            .arg(c.clock.elapsed() - lastDataSet)));
    QCOMPARE(labelText(*c.window, "labelanzahl"), QStringLiteral("3 von 10 Datensaetzen"));
    QVERIFY(Access::portOpen(*c.window));

    // It goes on when data sets come again.
    c.meter->send(dataSets(3, 1));
    QVERIFY(c.waitProgress(QStringLiteral("Lese Datensaetze: 4 von 10 (40 %)")));
    c.meter->send(dataSets(4, 6));
    QVERIFY(c.waitProgress(QStringLiteral("Aufzeichnung gelesen: 10 Datensaetze")));
    QCOMPARE(labelText(*c.window, "labelanzahl"), QStringLiteral("10 Datensaetze"));
}

QTEST_MAIN(TestConnection)
#include "tst_connection.moc"
