// The one connection to the meter, as the window and the tool see it: what
// it says by its signals, and the bytes it puts on a pseudo-terminal line.

#include "meterconnection.h"
#include "modem.h"
#include "sandboxedmeter.h"

#include <QDateTime>
#include <QSignalSpy>
#include <QTest>

Q_DECLARE_METATYPE(MeterConnection::Intake)

class TestMeterConnection : public QObject
{
    Q_OBJECT

private slots:
    void findsStreamsAndIsLost_data();
    void findsStreamsAndIsLost();
    void downloadEndsOnce();
};

void TestMeterConnection::findsStreamsAndIsLost_data()
{
    QTest::addColumn<MeterConnection::Intake>("intake");
    QTest::newRow("polled, as the window") << MeterConnection::Intake::Polled;
    QTest::newRow("waking, as the tool") << MeterConnection::Intake::Waking;
}

// COM1 is missing, the meter answers on COM2: it is switched to streaming,
// its readings come out kept to the display's range and stamped with the
// time they were taken in, and its going away starts the search again.
void TestMeterConnection::findsStreamsAndIsLost()
{
    QFETCH(MeterConnection::Intake, intake);
    SandboxedMeter line(QStringLiteral("COM2"));
    QVERIFY(line.meter.isValid());
    Modem modem;
    MeterConnection connection(modem, {QStringLiteral("COM1"), QStringLiteral("COM2")});
    connection.setIntake(intake);
    QSignalSpy searching(&connection, &MeterConnection::searching);
    QSignalSpy failed(&connection, &MeterConnection::portFailed);
    QSignalSpy found(&connection, &MeterConnection::meterFound);
    QSignalSpy lost(&connection, &MeterConnection::meterLost);
    QList<MeterStream::Reading> readings;
    connect(&connection, &MeterConnection::reading, this,
            [&](const MeterStream::Reading &r) { readings << r; });

    connection.start();
    QVERIFY(found.wait(5000));
    QCOMPARE(found.first(), QVariantList({QStringLiteral("COM2"), 21}));
    QCOMPARE(searching, QList<QVariantList>({{QStringLiteral("COM1")}, {QStringLiteral("COM2")}}));
    QCOMPARE(failed.size(), 1);
    QVERIFY(line.meter.waitForReceived("#o;"));
    QCOMPARE(line.meter.received(), QByteArray("#v;#o;"));

    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    QVERIFY(line.meter.send("@a-23.4;@b1e300;@s1*5*0*0*0;@a-30;"));
    QTRY_COMPARE(readings.size(), 3);
    QCOMPARE(readings[0].level, -23.4);
    QVERIFY(readings[0].timeMs >= before &&
            readings[0].timeMs <= QDateTime::currentMSecsSinceEpoch());
    QCOMPARE(readings[1].kind, Protocol::Pep);
    QCOMPARE(readings[1].level, 200.0);
    QVERIFY(readings[2].audioHead);

    line.meter.vanish();
    QVERIFY(lost.wait(2000));
    QCOMPARE(lost.first().first().toString(), QStringLiteral("COM2"));
    QVERIFY(!connection.isConnected());
    QTRY_COMPARE(searching.size(), 3); // again, from the port the meter was on
    QCOMPARE(searching.last().first().toString(), QStringLiteral("COM2"));
}

// The store takes the download's messages; its end is told once, while the
// store still holds what the download brought, whatever follows it.
void TestMeterConnection::downloadEndsOnce()
{
    SandboxedMeter line(QStringLiteral("COM1"));
    Modem modem;
    MeterConnection connection(modem, {QStringLiteral("COM1")});
    QVERIFY(!connection.requestDownload()); // no meter yet: nothing goes out
    QSignalSpy found(&connection, &MeterConnection::meterFound);
    connection.start();
    QVERIFY(found.wait(5000));

    int ended = 0;
    QByteArray csvAtEnd;
    connect(&connection, &MeterConnection::downloadEnded, this, [&] {
        ++ended;
        csvAtEnd = connection.download().csvFile(QTime(12, 0));
    });
    line.meter.setReply("#d;", "@k1*60;@a-20;@d-100*-50;@d-200*-150;@k5*10;@d1*1;");
    QVERIFY(connection.requestDownload());
    QVERIFY(line.meter.waitForReceived("#d;"));
    QTRY_COMPARE(connection.download().recordCount, 3);
    QCOMPARE(ended, 1);
    QCOMPARE(csvAtEnd, QByteArray("Datensatz;Zeit;RMS;PEP\r\n"
                                  "    1;12:01:00;-1.00;-0.50\r\n"
                                  "    2;12:02:00;-2.00;-1.50\r\n"));
}

QTEST_GUILESS_MAIN(TestMeterConnection)
#include "tst_meterconnection.moc"
