// The search for the meter on COM1 to COM20, observed where the user sees it
// (status bar, window title) and where the meter does (bytes on the line).

#include "identity.h"
#include "mainwindow.h"
#include "mainwindowtestaccess.h"
#include "portssandbox.h"
#include "ptymeter.h"
#include "windowrecorder.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QSettings>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

using Access = MainWindowTestAccess;

namespace {

using Recorder = WindowRecorder;

const QString Searching = QStringLiteral("Tavrolinde - V2.00 - FW:? - ");

// Acts as a user without rights (nobody) until it goes out of scope.
struct AsNobody
{
    AsNobody() : active(::seteuid(65534) == 0) {}
    ~AsNobody()
    {
        if (active)
            (void)::seteuid(0);
    }
    const bool active;
};

} // namespace

class TestDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void timeline();
    void title_data();
    void title();
    void streamAroundReplyReachesDecoder();
    void refusedPortNamed();
    void lastPortFirst_data();
    void lastPortFirst();
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

    // Each step of the search runs when the wait the search's timer was
    // started with has passed. The sum of those waits is when a step is
    // due, on the search's own schedule; a busy machine may run it later,
    // but cannot change the schedule.
    QTimer *steps = Access::scanTimer(window);
    qint64 lastStepDue = 0;
    int runningWait = steps->interval(); // started by the constructor
    QList<qint64> due;                   // of each recorded event
    const QObject schedule;              // gone before what it writes to
    const auto note = [&] { due.append(lastStepDue + runningWait); };
    connect(window.statusBar(), &QStatusBar::messageChanged, &schedule, note);
    connect(&window, &QWidget::windowTitleChanged, &schedule, note);
    // After the step: it has started the next wait, or stopped the timer.
    connect(steps, &QTimer::timeout, &schedule, [&] {
        lastStepDue += runningWait;
        runningWait = steps->interval();
    });

    QTRY_VERIFY_WITH_TIMEOUT(Access::deviceFound(window), 30000);
    QTest::qWait(50);
    QCOMPARE(due.size(), recorder.events.size());

    // The expected sequence and when each step is due since construction.
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
        // No wait is longer than it should be.
        QVERIFY2(
            due.at(from - 1) == step.first,
            qPrintable(QStringLiteral("%1 due at %2 ms").arg(step.second).arg(due.at(from - 1)) +
                       recorder.dump()));
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

void TestDiscovery::streamAroundReplyReachesDecoder()
{
    // A meter that goes on streaming: what it sent before its reply is not
    // taken for the reply, and what came after it is decoded with the first
    // polls after "#o;", together with all that comes until then, nothing
    // lost even when the two fill more than the receive ring holds.
    PortsSandbox sandbox;
    PtyMeter meter(sandbox, QStringLiteral("COM1"));
    QByteArray afterReply;
    QByteArray afterStream;
    for (int i = 0; afterReply.size() < 900; ++i)
        afterReply += "@a-" + QByteArray::number(i % 100) + ".0;";
    while (afterStream.size() < 900)
        afterStream += "@s0*1*20.0*0.0*0;";
    meter.setReply("#v;", "3.4;@b-19.0;M\x15" + afterReply + "@a-10.0;");
    meter.setReply("#o;", afterStream + "@b-7.0;");
    MainWindow window;
    QTRY_VERIFY_WITH_TIMEOUT(Access::deviceFound(window), 15000);
    QTRY_COMPARE(window.findChild<QLabel *>(QStringLiteral("labelNdbmpep"))->text(),
                 QStringLiteral("-7.0 dBm"));
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("labelNdbmrms"))->text(),
             QStringLiteral("-10.0 dBm"));
    QCOMPARE(window.windowTitle(), QStringLiteral("Tavrolinde - V2.00 - FW:2.xx - COM1"));
}

void TestDiscovery::refusedPortNamed()
{
    // A user not in the group of COM2's device: the search names it beside
    // its own texts, goes on, and drops the name once the meter answers.
    if (::geteuid() != 0)
        QSKIP("acting as another user needs root");
    PortsSandbox sandbox;
    QVERIFY(::chmod(QFile::encodeName(sandbox.root()).constData(), 0755) == 0);
    PtyMeter refused(sandbox, QStringLiteral("COM2"));
    PtyMeter meter(sandbox, QStringLiteral("COM3"));
    meter.setReply("#v;", QByteArray("M\x15", 2));
    const QByteArray refusedPath = QFile::encodeName(refused.devicePath());
    QVERIFY(::chmod(refusedPath.constData(), 0) == 0);
    QVERIFY(::chmod(QFile::encodeName(meter.devicePath()).constData(), 0666) == 0);
    const QString expected =
        QStringLiteral("Kein Zugriff auf %1 (COM2): Gruppe %2 fehlt")
            .arg(refused.devicePath(), QFileInfo(refused.devicePath()).group());

    MainWindow window;
    auto *label = window.findChild<QLabel *>(QStringLiteral("accessLabel"));
    QVERIFY(label);
    {
        AsNobody nobody;
        QVERIFY(nobody.active);
        QTRY_COMPARE_WITH_TIMEOUT(label->text(), expected, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(window.statusBar()->currentMessage(),
                                  QStringLiteral("Suche HW :COM3"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(Access::deviceFound(window), 15000);
    }
    QCOMPARE(label->text(), QString());
    QCOMPARE(refused.received(), QByteArray());
}

void TestDiscovery::lastPortFirst_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("foundOn");
    QTest::newRow("none stored: from COM1") << QString() << "COM2";
    QTest::newRow("meter's port stored: asked first") << "COM6"
                                                      << "COM6";
    QTest::newRow("stored port gone: from COM1") << "COM9"
                                                 << "COM2";
    QTest::newRow("no port name stored") << "/dev/ttyS0"
                                         << "COM2";
}

void TestDiscovery::lastPortFirst()
{
    QFETCH(QString, stored);
    QFETCH(QString, foundOn);
    PortsSandbox sandbox;
    PtyMeter first(sandbox, QStringLiteral("COM2"));
    PtyMeter later(sandbox, QStringLiteral("COM6"));
    first.setReply("#v;", QByteArray("M\x15", 2));
    later.setReply("#v;", QByteArray("M\x15", 2));
    if (!stored.isEmpty())
        QSettings(Identity::Organisation, Identity::Application)
            .setValue(QStringLiteral("port"), stored);

    MainWindow window;
    QTRY_VERIFY_WITH_TIMEOUT(Access::deviceFound(window), 15000);
    QCOMPARE(window.windowTitle(), QStringLiteral("Tavrolinde - V2.00 - FW:2.xx - ") + foundOn);
    // The other meter was never asked.
    QCOMPARE((foundOn == QLatin1String("COM2") ? later : first).received(), QByteArray());
    QCOMPARE(QSettings(Identity::Organisation, Identity::Application)
                 .value(QStringLiteral("port"))
                 .toString(),
             foundOn);
}

QTEST_MAIN(TestDiscovery)
#include "tst_discovery.moc"
