// The search for the meter, step by step, against meters on pseudo-terminals:
// what counts as its reply among the bytes of a line, what goes on to the
// stream, and the order and waits of its steps.

#include "metersearch.h"
#include "modem.h"
#include "portscan.h"
#include "portssandbox.h"
#include "ptymeter.h"

#include <QTest>
#include <QTimer>

using Step = MeterSearch::Step;

class TestMeterSearch : public QObject
{
    Q_OBJECT

private slots:
    void reply_data();
    void reply();
    void goesRoundAndResumesAtLostPort();
};

void TestMeterSearch::reply_data()
{
    QTest::addColumn<QByteArray>("waiting"); // on the line before the probe
    QTest::addColumn<QByteArray>("answer");  // to "#v;"; "vanish": the line closes
    QTest::addColumn<int>("answerAfterMs");
    QTest::addColumn<int>("firmware"); // 0: not found
    QTest::addColumn<QByteArray>("streamStart");

    QByteArray backlog;
    while (backlog.size() < 3000)
        backlog += "@a-23.4;@b-19.0;@s0*1*20.0*0.0*0;";

    QTest::newRow("the reply alone")
        << QByteArray() << QByteArray("M\x15") << 0 << 21 << QByteArray();
    QTest::newRow("the stream behind the reply")
        << QByteArray() << QByteArray("M\x15@a-10.0;@b") << 0 << 21 << QByteArray("@a-10.0;@b");
    QTest::newRow("a meter that goes on streaming")
        << QByteArray() << QByteArray("3.4;@b-19.0;M\x23@a-10.0;") << 0 << 35
        << QByteArray("@a-10.0;");
    QTest::newRow("a meter left streaming: seconds of stream wait before the probe")
        << backlog << QByteArray("M\x15@a") << 0 << 21 << QByteArray("@a");
    QTest::newRow("an old reply waits before the probe")
        << QByteArray("M\x0b") << QByteArray("M\x15") << 0 << 21 << QByteArray();
    QTest::newRow("no answer") << QByteArray() << QByteArray() << 0 << 0 << QByteArray();
    QTest::newRow("a lone M") << QByteArray() << QByteArray("M") << 0 << 0 << QByteArray();
    QTest::newRow("the reply after the second")
        << QByteArray() << QByteArray("M\x15") << 1150 << 0 << QByteArray();
    QTest::newRow("the line closes")
        << QByteArray() << QByteArray("vanish") << 0 << 0 << QByteArray();
}

void TestMeterSearch::reply()
{
    QFETCH(QByteArray, waiting);
    QFETCH(QByteArray, answer);
    QFETCH(int, answerAfterMs);
    QFETCH(int, firmware);
    QFETCH(QByteArray, streamStart);

    PortsSandbox sandbox;
    PtyMeter meter(sandbox, QStringLiteral("COM1"));
    QVERIFY(meter.isValid());
    QVERIFY(meter.send(waiting));
    connect(&meter, &PtyMeter::commandSeen, &meter, [&](const QByteArray &command) {
        if (command != "#v;")
            return;
        QTimer::singleShot(answerAfterMs, &meter, [&] {
            if (answer == "vanish")
                meter.vanish();
            else
                meter.send(answer);
        });
    });

    Modem modem;
    MeterSearch search(modem, PortScan::portNames());
    QTest::qWait(50); // the waiting bytes reach the program's end of the line
    QCOMPARE(search.step(), Step::Probed);
    QVERIFY(search.awaitingReply());
    QCOMPARE(search.nextStepMs(), MeterSearch::ReplyWaitMs);
    QTest::qWait(MeterSearch::ReplyWaitMs);
    const Step checked = search.step();
    QCOMPARE(search.awaitingReply(), false);
    QCOMPARE(search.deviceFound(), firmware != 0);
    QCOMPARE(search.firmwareNumber(), firmware);
    if (firmware != 0) {
        QCOMPARE(checked, Step::Found);
        QCOMPARE(search.takeStreamStart(), streamStart);
        QVERIFY(search.portOpen());
        QCOMPARE(search.portIndex(), 0);
        QCOMPARE(search.step(), Step::Idle); // connected: nothing more to search
    } else {
        QCOMPARE(checked, Step::NoReply);
        QVERIFY(!search.portOpen());
        QCOMPARE(search.portIndex(), 1);
        QCOMPARE(search.nextStepMs(), MeterSearch::AfterNoReplyMs);
    }
    QTest::qWait(250);
    if (answer != "vanish")
        QCOMPARE(meter.received(), QByteArray("#v;"));
}

// COM1 absent, COM2 silent, the meter on COM3: the steps and their waits, a
// lost meter searched for again from its port, and the way round past COM20.
void TestMeterSearch::goesRoundAndResumesAtLostPort()
{
    PortsSandbox sandbox;
    PtyMeter silent(sandbox, QStringLiteral("COM2"));
    PtyMeter meter(sandbox, QStringLiteral("COM3"));
    meter.setReply("#v;", QByteArray("M\x15"));
    Modem modem;
    MeterSearch search(modem, PortScan::portNames());
    QStringList tried;
    search.onTrying = [&](const QString &name) { tried << name; };

    const auto run = [&](Step expected, int nextMs) {
        const Step step = search.step();
        if (step == Step::Probed)
            QTest::qWait(search.nextStepMs());
        return step == expected && (nextMs < 0 || search.nextStepMs() == nextMs);
    };
    QCOMPARE(search.nextStepMs(), MeterSearch::FirstStepMs);
    QVERIFY(run(Step::NotOpened, MeterSearch::AfterFailedOpenMs));
    QVERIFY(run(Step::Probed, MeterSearch::ReplyWaitMs));
    QVERIFY(run(Step::NoReply, MeterSearch::AfterNoReplyMs));
    QVERIFY(run(Step::Probed, MeterSearch::ReplyWaitMs));
    QVERIFY(run(Step::Found, -1));
    QCOMPARE(search.portName(), QStringLiteral("COM3"));
    QCOMPARE(tried, QStringList({"COM1", "COM2", "COM3"}));

    // Lost: the port is let go, and the search starts again with it.
    search.meterLost();
    QVERIFY(!search.portOpen());
    QVERIFY(!search.deviceFound());
    QCOMPARE(search.nextStepMs(), MeterSearch::FirstStepMs);
    meter.vanish();
    sandbox.block(QStringLiteral("COM2"));
    sandbox.block(QStringLiteral("COM3"));
    tried.clear();
    for (int i = 0; i < 20; ++i)
        QVERIFY(run(Step::NotOpened, MeterSearch::AfterFailedOpenMs));
    QStringList round;
    for (int i = 0; i < 20; ++i)
        round << QStringLiteral("COM%1").arg((i + 2) % 20 + 1);
    QCOMPARE(tried, round);
    QCOMPARE(search.portIndex(), 2);
}

QTEST_MAIN(TestMeterSearch)
#include "tst_metersearch.moc"
