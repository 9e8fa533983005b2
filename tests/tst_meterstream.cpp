#include "mainwindowtestaccess.h"
#include "meterstream.h"

#include <QTest>

namespace {

// Writes down what the stream hands out, one entry per message.
class Log : public MeterStream::Receiver
{
public:
    QStringList entries;

    void reading(const MeterStream::Reading &r) override
    {
        entries << QStringLiteral("%1 %2 %3")
                       .arg(r.kind == Protocol::Rms ? "rms" : "pep")
                       .arg(r.level)
                       .arg(r.audioHead ? "dBV" : "dBm");
    }
    void status(const MeterStream::Status &s) override
    {
        entries << QStringLiteral("status %1 %2 %3 %4 %5 %6")
                       .arg(s.headType)
                       .arg(s.serialNumber)
                       .arg(s.maxLevelDbm)
                       .arg(s.attenuatorDb)
                       .arg(s.recordingActive)
                       .arg(s.recording ? (*s.recording ? "on" : "off") : "?");
    }
    void downloadHeader(const QString &text) override { entries << "header " + text; }
    void dataSet(const QString &text) override { entries << "data " + text; }
};

} // namespace

// The meter's bytes through the message rules, as every reader of the
// stream gets them.
class TestMeterStream : public QObject
{
    Q_OBJECT

private slots:
    void messages_data();
    void messages();
    void intakeTakesLessThanTheRing();
    void noiseInsideMessageStaysBounded();
    void restartDropsHalfMessage();
};

void TestMeterStream::messages_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("expected");

    // Messages and type letters.
    QTest::newRow("RMS level") << QByteArray("@a-23.4;") << QStringList{"rms -23.4 dBm"};
    QTest::newRow("type letter last") << QByteArray("@-23.4a;") << QStringList{"rms -23.4 dBm"};
    QTest::newRow("type letter inside the number")
        << QByteArray("@-23a.4;") << QStringList{"rms -23.4 dBm"};
    QTest::newRow("last type letter counts") << QByteArray("@a1b2;") << QStringList{"pep 12 dBm"};
    QTest::newRow("sticky type") << QByteArray("@b-1;@-20.0;@;")
                                 << QStringList{"pep -1 dBm", "pep -20 dBm", "pep 0 dBm"};
    QTest::newRow("no type letter yet") << QByteArray("@-5;@a-6;") << QStringList{"rms -6 dBm"};
    QTest::newRow("second @ in the body") << QByteArray("@a@-10;") << QStringList{"rms 0 dBm"};
    QTest::newRow("blanks removed from levels")
        << QByteArray("@b 1 2 . 5 ;") << QStringList{"pep 12.5 dBm"};
    // Bytes outside messages.
    QTest::newRow("noise before") << QByteArray("\r\nxyz;123\x00\xff\r\n@a-23.4;", 21)
                                  << QStringList{"rms -23.4 dBm"};
    QTest::newRow("stray type letter outside")
        << QByteArray("b\r\n@a12.5;") << QStringList{"rms 12.5 dBm"};
    QTest::newRow("noise only") << QByteArray("abkds;*-12.5\r\n;;") << QStringList{};
    // Status: the head counts at once, the recording shown only changes at 0 and 1.
    QTest::newRow("status") << QByteArray("@s2*17*20.0*10.0*1;")
                            << QStringList{"status 2 17 20 10 1 on"};
    QTest::newRow("audio head for the readings after it")
        << QByteArray("@a-1;@s1*5*0*0*0;@a-26;@s3;@b-6;@s9;@a-2;")
        << QStringList{"rms -1 dBm", "status 1 5 0 0 0 off", "rms -26 dBV", "status 3 0 0 0 0 off",
                       "pep -6 dBV", "status 9 0 0 0 0 off", "rms -2 dBm"};
    QTest::newRow("recording other value keeps what is shown")
        << QByteArray("@s0*1*0*0*2;@s0*1*0*0*1;@s0*1*0*0*-1;")
        << QStringList{"status 0 1 0 0 2 ?", "status 0 1 0 0 1 on", "status 0 1 0 0 -1 on"};
    // Download messages go on as their texts.
    QTest::newRow("download") << QByteArray("@k2*60;@a-1;@d-2345.9*-1200;@d  -1 2 * 1000;")
                              << QStringList{"header 2*60", "rms -1 dBm", "data -2345.9*-1200",
                                             "data   -1 2 * 1000"};
    // Overlong messages.
    const QByteArray longest = "-" + QByteArray(251, '0') + "12.5";
    QTest::newRow("256 characters") << "@a" + longest + ";" << QStringList{"rms -12.5 dBm"};
    QTest::newRow("257 characters dropped")
        << "@a-0" + longest.mid(1) + ";@a-3;" << QStringList{"rms -3 dBm"};
    QTest::newRow("far too long, then on")
        << "@a" + QByteArray(5000, '9') + ";@a-3;" << QStringList{"rms -3 dBm"};
    QTest::newRow("blanks squeezed out")
        << "@a" + QByteArray(300, ' ') + "-3;" << QStringList{"rms -3 dBm"};
    QTest::newRow("type letters do not count")
        << "@" + QByteArray(1000, 'a') + "-5;" << QStringList{"rms -5 dBm"};
    QTest::newRow("type letter of a dropped message stays")
        << "@a" + QByteArray(300, '1') + "b;@-4;" << QStringList{"pep -4 dBm"};
    const QByteArray blanks(300, ' ');
    QTest::newRow("overlong data sets keep their places")
        << "@d" + blanks + "-1000*" + blanks + "-900;@d" + QByteArray(300, '9') + ";@d5*-5;"
        << QStringList{"data -1000*-900", "data ", "data 5*-5"};
}

// However the bytes are cut, the same messages come out.
void TestMeterStream::messages()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, expected);

    for (const int piece : {int(bytes.size()), 1, 7}) {
        MeterStream stream;
        Log log;
        for (qsizetype at = 0; at < bytes.size(); at += piece)
            stream.feed(bytes.constData() + at, qMin<qsizetype>(piece, bytes.size() - at), log);
        QCOMPARE(log.entries, expected);
        QVERIFY(stream.isEmpty());
    }
}

void TestMeterStream::intakeTakesLessThanTheRing()
{
    // A full ring would read as empty: one intake takes 999 bytes at most.
    MeterStream stream;
    const QByteArray bytes(MeterStream::RxRingSize, '.');
    QCOMPARE(stream.take(bytes.constData(), int(bytes.size())), MeterStream::IntakeLimit);
    QVERIFY(!stream.isEmpty());
    Log log;
    stream.decode(log);
    QVERIFY(stream.isEmpty());
    QCOMPARE(stream.take(bytes.constData(), -1), 0);
}

void TestMeterStream::noiseInsideMessageStaysBounded()
{
    // A line that only produces noise after an '@' keeps the message open
    // for ever; what it holds of the text stays small.
    MeterStream stream;
    Log log;
    stream.feed("@a", 2, log);
    for (int i = 0; i < 20; ++i) {
        const QByteArray noise(MeterStream::IntakeLimit, char('0' + i % 10));
        stream.feed(noise.constData(), noise.size(), log);
        QVERIFY(MainWindowTestAccess::messageText(stream).size() <= 257);
    }
    stream.feed(";@a-3;", 6, log);
    QCOMPARE(log.entries, QStringList{"rms -3 dBm"});
}

void TestMeterStream::restartDropsHalfMessage()
{
    // A new line: no half message of the old one, the head stays.
    MeterStream stream;
    Log log;
    stream.feed("@s1;@a-1", 8, log);
    stream.restart();
    stream.feed("2;@-3;@a-4;", 11, log);
    QCOMPARE(log.entries, (QStringList{"status 1 0 0 0 0 off", "rms -4 dBV"}));
}

QTEST_MAIN(TestMeterStream)
#include "tst_meterstream.moc"
