// The search for the meter on COM1 to COM20, observed where the user sees it
// (status bar, window title) and where the meter does (bytes on the line).

#include "mainwindow.h"
#include "mainwindowtestaccess.h"
#include "portssandbox.h"
#include "ptymeter.h"
#include "windowrecorder.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

using Access = MainWindowTestAccess;

namespace {

using Recorder = WindowRecorder;

const QString Searching = QStringLiteral("Tavrolinde - V2.00 - FW:? - ");

} // namespace

class TestDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void timeline();
    void replyRules_data();
    void replyRules();
    void wrapsAfterCom20();
    void title_data();
    void title();
    void bytesAfterReplyReachDecoder();
    void lateReplyFoundOnNextPass();
    void meterVanishesDuringReplyWait();
};

void TestDiscovery::timeline()
{
    // COM1 absent, COM2 open but silent, a meter with firmware 21 on COM3.
    PortsSandbox sandbox;
    PtyMeter silent(sandbox, QStringLiteral("COM2"));
    PtyMeter meter(sandbox, QStringLiteral("COM3"));
    meter.setReply("#v;", QByteArray("M\x15", 2));

    QElapsedTimer clock;
    clock.start();
    MainWindow window;
    Recorder recorder(window, clock);
    auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    QVERIFY(!tabs->isEnabled());

    QTRY_VERIFY_WITH_TIMEOUT(Access::deviceFound(window), 6000);
    QTest::qWait(50);

    // The expected sequence and times since construction.
    const QList<QPair<int, QString>> expected = {
        {200, QStringLiteral("status Suche HW :COM1")},
        {200, QStringLiteral("title ") + Searching + QStringLiteral("?")},
        {300, QStringLiteral("status Suche HW :COM2")},
        {300, QStringLiteral("title ") + Searching + QStringLiteral("COM2")},
        {1300, QStringLiteral("title ") + Searching + QStringLiteral("?")},
        {1500, QStringLiteral("status Suche HW :COM3")},
        {1500, QStringLiteral("title ") + Searching + QStringLiteral("COM3")},
        {2500, QStringLiteral("status HW gefunden an: COM3")},
        {2500, QStringLiteral("title Tavrolinde - V2.00 - FW:2.xx - COM3")},
    };
    int from = 0;
    qint64 previousAt = 0;
    int previousExpected = 0;
    for (const auto &step : expected) {
        const qint64 at = recorder.find(step.second, &from);
        QVERIFY2(at >= 0, qPrintable(step.second + recorder.dump()));
        // A step may come late on a busy machine, never early: each wait of
        // the search (100 ms after a port that failed to open, 1000 ms for
        // the reply, 200 ms after a port without one) lasts at least as long
        // as it says. One millisecond is lost to rounding the clock down.
        const int wait = step.first - previousExpected;
        QVERIFY2(at - previousAt >= wait - 1,
                 qPrintable(QStringLiteral("%1 at %2 ms, %3 ms after the step before, expected %4")
                                .arg(step.second)
                                .arg(at)
                                .arg(at - previousAt)
                                .arg(wait) +
                            recorder.dump()));
        QVERIFY2(
            at <= step.first + 400,
            qPrintable(QStringLiteral("%1 at %2 ms").arg(step.second).arg(at) + recorder.dump()));
        previousAt = at;
        previousExpected = step.first;
    }

    QCOMPARE(silent.received(), QByteArray("#v;"));
    QCOMPARE(meter.received(), QByteArray("#v;#o;"));
    QVERIFY(Access::pollTimer(window)->isActive());
    QVERIFY(!Access::scanTimer(window)->isActive());
    QVERIFY(tabs->isEnabled());
    QCOMPARE(Access::portIndex(window), 2);
    QVERIFY(Access::portOpen(window));
}

void TestDiscovery::replyRules_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("firmwareText");

    QTest::newRow("firmware 21") << QByteArray("M\x15", 2) << true << "FW:2.xx";
    QTest::newRow("firmware 11") << QByteArray("M\x0b", 2) << true << "FW:1.xx";
    QTest::newRow("firmware 127") << QByteArray("M\x7f", 2) << true << "FW:12.xx";
    QTest::newRow("firmware 10") << QByteArray("M\x0a", 2) << false << "";
    QTest::newRow("firmware 0x80 is negative") << QByteArray("M\x80", 2) << false << "";
    QTest::newRow("firmware 0xff is negative") << QByteArray("M\xff", 2) << false << "";
    QTest::newRow("lone M") << QByteArray("M") << false << "";
    QTest::newRow("nothing") << QByteArray() << false << "";
    QTest::newRow("wrong mark") << QByteArray("m\x15", 2) << false << "";
    QTest::newRow("garbage") << QByteArray("\r\nOK\r\n") << false << "";
    QTest::newRow("further bytes") << QByteArray("M\x15@a-10.0;", 10) << true << "FW:2.xx";
}

void TestDiscovery::replyRules()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, accepted);
    QFETCH(QString, firmwareText);

    PortsSandbox sandbox;
    PtyMeter meter(sandbox, QStringLiteral("COM1"));
    if (!reply.isEmpty())
        meter.setReply("#v;", reply);
    MainWindow window;
    // Drive the scan steps by hand instead of waiting for the timer.
    Access::scanTimer(window)->stop();
    Access::scanStep(window);
    QCOMPARE(window.windowTitle(), Searching + QStringLiteral("COM1"));
    QVERIFY(meter.waitForReceived("#v;", 2000));
    QTest::qWait(30); // let the reply reach the line
    Access::scanStep(window);

    QCOMPARE(Access::deviceFound(window), accepted);
    if (accepted) {
        QCOMPARE(window.windowTitle(),
                 QStringLiteral("Tavrolinde - V2.00 - %1 - COM1").arg(firmwareText));
        QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("HW gefunden an: COM1"));
        QVERIFY(meter.waitForReceived("#v;#o;", 2000));
        QCOMPARE(Access::portIndex(window), 0);
    } else {
        QCOMPARE(window.windowTitle(), Searching + QStringLiteral("?"));
        QCOMPARE(Access::portIndex(window), 1);
        QVERIFY(!Access::portOpen(window));
        QCOMPARE(Access::scanTimer(window)->interval(), 200);
        QVERIFY(Access::scanTimer(window)->isActive());
        QTest::qWait(30);
        QCOMPARE(meter.received(), QByteArray("#v;"));
    }
}

void TestDiscovery::wrapsAfterCom20()
{
    // Nothing anywhere: every open fails and the scan goes round and round.
    PortsSandbox sandbox;
    QElapsedTimer clock;
    clock.start();
    MainWindow window;
    Recorder recorder(window, clock);
    QTRY_VERIFY_WITH_TIMEOUT(recorder.events.size() > 0 && Access::portIndex(window) == 2 &&
                                 recorder.events.size() > 25,
                             6000);
    const QStringList probed = recorder.texts(QStringLiteral("status Suche HW :"));
    QVERIFY2(probed.size() >= 22, qPrintable(probed.join(' ')));
    for (int i = 0; i < 22; ++i)
        QCOMPARE(probed.at(i), QStringLiteral("COM%1").arg(i % 20 + 1));
    QCOMPARE(Access::scanTimer(window)->interval(), 100);
    QVERIFY(window.windowTitle().endsWith(QStringLiteral("FW:? - ?")));
    QVERIFY(!window.findChild<QTabWidget *>(QStringLiteral("tabWidget"))->isEnabled());
}

void TestDiscovery::title_data()
{
    QTest::addColumn<bool>("found");
    QTest::addColumn<int>("firmware");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("title");
    QTest::newRow("searching, closed") << false << 0 << "?"
                                       << "Tavrolinde - V2.00 - FW:? - ?";
    QTest::newRow("searching, firmware ignored") << false << 35 << "COM2"
                                                 << "Tavrolinde - V2.00 - FW:? - COM2";
    QTest::newRow("found 35") << true << 35 << "COM12"
                              << "Tavrolinde - V2.00 - FW:3.xx - COM12";
    QTest::newRow("found 11") << true << 11 << "COM1"
                              << "Tavrolinde - V2.00 - FW:1.xx - COM1";
    QTest::newRow("found 127") << true << 127 << "?"
                               << "Tavrolinde - V2.00 - FW:12.xx - ?";
}

void TestDiscovery::title()
{
    QFETCH(bool, found);
    QFETCH(int, firmware);
    QFETCH(QString, port);
    QFETCH(QString, title);
    PortsSandbox sandbox;
    MainWindow window;
    Access::scanTimer(window)->stop();
    Access::setFirmware(window, found, firmware);
    Access::setAText(window, port);
    QCOMPARE(window.windowTitle(), title);
}

void TestDiscovery::bytesAfterReplyReachDecoder()
{
    // Bytes the meter sends right after its reply wait in the line and are
    // decoded with the first poll after "#o;".
    PortsSandbox sandbox;
    PtyMeter meter(sandbox, QStringLiteral("COM1"));
    meter.setReply("#v;", QByteArray("M\x15@a-10.0;", 10));
    MainWindow window;
    QTRY_VERIFY_WITH_TIMEOUT(Access::deviceFound(window), 4000);
    auto *level = window.findChild<QLabel *>(QStringLiteral("labelNdbmrms"));
    QTRY_COMPARE(level->text(), QStringLiteral("-10.0 dBm"));
}

void TestDiscovery::lateReplyFoundOnNextPass()
{
    // A meter that answers after more than a second is not taken on this
    // pass; the search comes back to it.
    PortsSandbox sandbox;
    PtyMeter meter(sandbox, QStringLiteral("COM1"));
    connect(&meter, &PtyMeter::commandSeen, &meter, [&meter](const QByteArray &command) {
        if (command == "#v;")
            QTimer::singleShot(1150, &meter, [&meter] { meter.send(QByteArray("M\x15", 2)); });
    });
    MainWindow window;
    QTRY_VERIFY_WITH_TIMEOUT(Access::portIndex(window) == 1, 3000);
    QVERIFY(!Access::deviceFound(window));
    QTRY_VERIFY_WITH_TIMEOUT(Access::deviceFound(window), 8000);
    QCOMPARE(window.windowTitle(), QStringLiteral("Tavrolinde - V2.00 - FW:2.xx - COM1"));
}

void TestDiscovery::meterVanishesDuringReplyWait()
{
    PortsSandbox sandbox;
    PtyMeter meter(sandbox, QStringLiteral("COM1"));
    connect(&meter, &PtyMeter::commandSeen, &meter, [&meter](const QByteArray &command) {
        if (command == "#v;")
            QTimer::singleShot(0, &meter, [&meter] { meter.vanish(); });
    });
    MainWindow window;
    // The scan moves on past COM1 and keeps going; the window stays alive.
    QTRY_VERIFY_WITH_TIMEOUT(Access::portIndex(window) == 3, 4000);
    QVERIFY(!Access::deviceFound(window));
    QVERIFY(window.windowTitle().endsWith(QStringLiteral("FW:? - ?")));
}

QTEST_MAIN(TestDiscovery)
#include "tst_discovery.moc"
