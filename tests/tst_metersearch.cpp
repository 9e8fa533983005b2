// The search's look at one port, against meters on pseudo-terminals: what
// counts as the reply among the bytes of the line, and what the channel
// hands out first afterwards, the start of the stream. (Its order of ports and its waits are seen
// where the user sees them, in tst_discovery and tst_connection.)

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
};

void TestMeterSearch::reply_data()
{
    QTest::addColumn<QByteArray>("waiting"); // on the line before the probe
    QTest::addColumn<QByteArray>("answer");  // to "#v;"; "vanish": the line closes
    QTest::addColumn<int>("answerAfterMs");  // -1: once the search has looked for the reply
    QTest::addColumn<int>("firmware");       // 0: not found
    QTest::addColumn<QByteArray>("streamStart");

    QByteArray backlog;
    while (backlog.size() < 3000)
        backlog += "@a-23.4;@b-19.0;@s0*1*20.0*0.0*0;";

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
    QTest::newRow("the reply after the second")
        << QByteArray() << QByteArray("M\x15") << -1 << 0 << QByteArray();
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
        if (command != "#v;" || answerAfterMs < 0)
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
    if (answerAfterMs < 0)
        meter.send(answer);
    QCOMPARE(search.awaitingReply(), false);
    QCOMPARE(search.deviceFound(), firmware != 0);
    QCOMPARE(search.firmwareNumber(), firmware);
    if (firmware != 0) {
        QCOMPARE(checked, Step::Found);
        char read[64] = {};
        QCOMPARE(QByteArray(read, modem.readBytes(read, int(sizeof read))), streamStart);
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

QTEST_MAIN(TestMeterSearch)
#include "tst_metersearch.moc"
