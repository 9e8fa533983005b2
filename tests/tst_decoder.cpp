#include "livedisplay.h"
#include "meterline.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextBrowser>

#include <limits>

using Access = MainWindowTestAccess;

// The live display as the user sees it while the meter streams: bytes go in
// at the meter's end of a pseudo-terminal, the program finds the meter by
// itself, and the labels are read back by their object names.
class TestDecoder : public QObject
{
    Q_OBJECT

private slots:
    // Presentation without a window.
    void levelTexts_data();
    void levelTexts();

    // Through the line.
    void initTestCase();
    void init();
    void cleanupTestCase();
    void pollsByItself();
    void noPortNoIntake();
    void messages_data();
    void messages();
    void batchOfThousandBytes();
    void download();

private:
    bool check(const QStringList &expected);

    std::unique_ptr<MeterLine> line;
};

namespace {

// Labels as the start state of every case leaves them (see init()).
const QStringList startState = {QStringLiteral("labelNdbmrms=-50.0 dBm"),
                                QStringLiteral("labelNvoltrms=707.1 uV"),
                                QStringLiteral("labelNwattrms=10.00 nW"),
                                QStringLiteral("labelNdbmpep=-60.0 dBm"),
                                QStringLiteral("labelNvoltpep=223.6 uV"),
                                QStringLiteral("labelNwattpep=1.000 nW"),
                                QStringLiteral("labeladxx=AD8362"),
                                QStringLiteral("labelmknr= 0"),
                                QStringLiteral("labeldbm=0.0 dBm"),
                                QStringLiteral("labelattdb=0.0 dB"),
                                QStringLiteral("labelzsatz="),
                                QStringLiteral("groupBoxrms=AVG/RMS"),
                                QStringLiteral("groupBoxpep=PEP")};

const QString recordingRuns = QStringLiteral("Funktion \"Aufzeichnung\" laeuft");

} // namespace

void TestDecoder::levelTexts_data()
{
    QTest::addColumn<double>("level");
    QTest::addColumn<bool>("audio");
    QTest::addColumn<QString>("levelText");
    QTest::addColumn<QString>("voltage");
    QTest::addColumn<QString>("power");

    // RF heads: the power of the level across 50 ohms.
    QTest::newRow("30 dBm, one watt") << 30.0 << false << "30.0 dBm"
                                      << "7.071 V"
                                      << "1.000 W";
    QTest::newRow("70 dBm, ten kilowatts") << 70.0 << false << "70.0 dBm"
                                           << "707.1 V"
                                           << "10.000 kW";
    QTest::newRow("-120 dBm") << -120.0 << false << "-120.0 dBm"
                              << "223.6 nV"
                              << "1.000 fW";
    QTest::newRow("rounds to one decimal") << -23.45 << false << "-23.4 dBm"
                                           << "15.03 mV"
                                           << "4.519 uW";
    // Audio heads: dBV, no power.
    QTest::newRow("0 dBV, one volt") << 0.0 << true << "0.0 dBV"
                                     << "1.000 V"
                                     << "";
    QTest::newRow("20 dBV") << 20.0 << true << "20.0 dBV"
                            << "10.00 V"
                            << "";
    QTest::newRow("-200 dBV") << -200.0 << true << "-200.0 dBV"
                              << "0.100 nV"
                              << "";
    // Numbers no head can measure are shown as the nearest end of the
    // +-200 dB range: no label of hundreds of digits, no "inf V".
    QTest::newRow("200 dBm, the end of the range") << 200.0 << false << "200.0 dBm"
                                                   << "2236067977.5 V"
                                                   << "100000000000000.000 kW";
    QTest::newRow("just above the range") << 200.04 << false << "200.0 dBm"
                                          << "2236067977.5 V"
                                          << "100000000000000.000 kW";
    QTest::newRow("largest double") << std::numeric_limits<double>::max() << false << "200.0 dBm"
                                    << "2236067977.5 V"
                                    << "100000000000000.000 kW";
    QTest::newRow("-200 dBm, the other end") << -200.0 << false << "-200.0 dBm"
                                             << "0.022 nV"
                                             << "0.000 fW";
    QTest::newRow("-1e300 dBm") << -1e300 << false << "-200.0 dBm"
                                << "0.022 nV"
                                << "0.000 fW";
    QTest::newRow("1e300 dBV") << 1e300 << true << "200.0 dBV"
                               << "10000000000.0 V"
                               << "";
    QTest::newRow("NaN reads as 0")
        << std::numeric_limits<double>::quiet_NaN() << false << "0.0 dBm"
        << "223.6 mV"
        << "1.000 mW";
}

void TestDecoder::levelTexts()
{
    QFETCH(double, level);
    QFETCH(bool, audio);
    QFETCH(QString, levelText);
    QFETCH(QString, voltage);
    QFETCH(QString, power);

    const LiveDisplay::LevelTexts texts = LiveDisplay::levelTexts(level, audio);
    QCOMPARE(texts.level, levelText);
    QCOMPARE(texts.voltage, voltage);
    QCOMPARE(texts.power, power);
}

void TestDecoder::initTestCase()
{
    line.reset(new MeterLine);
    QVERIFY2(line->connect(), "the program did not find the meter on COM1");
}

void TestDecoder::cleanupTestCase()
{
    line.reset();
}

// Every case starts from the same display: an RF head, no recording, RMS
// -50 dBm, PEP -60 dBm, and the PEP type still in force from the last
// message.
void TestDecoder::init()
{
    if (!line)
        QSKIP("no connection");
    // Ends whatever message a case may have left open.
    QVERIFY(line->feed(";"));
    QVERIFY(line->feed("@s0*0*0*0*0;@a-50;@b-60;"));
    QVERIFY(check(startState));
}

// Compares "objectName=text" entries with the window.
bool TestDecoder::check(const QStringList &expected)
{
    for (const QString &entry : expected) {
        const qsizetype eq = entry.indexOf(QLatin1Char('='));
        const QString name = entry.left(eq);
        const QString actual = line->text(name);
        const QString wanted = entry.mid(eq + 1);
        if (actual != wanted) {
            qWarning("%s: \"%s\", expected \"%s\"", qPrintable(name), qPrintable(actual),
                     qPrintable(wanted));
            return false;
        }
    }
    return true;
}

void TestDecoder::pollsByItself()
{
    // No help from the test: the poll timer takes the bytes in.
    QVERIFY(line->pty().send("@a-23.4;"));
    QTRY_COMPARE(line->text("labelNdbmrms"), QStringLiteral("-23.4 dBm"));
    QCOMPARE(line->text("labelNvoltrms"), QStringLiteral("15.12 mV"));
    QCOMPARE(line->text("labelNwattrms"), QStringLiteral("4.571 uW"));

    // And comes back every 100 ms, also when nothing arrives.
    QTimer *timer = Access::pollTimer(line->win());
    QSignalSpy runs(timer, &QTimer::timeout);
    QTRY_VERIFY(runs.count() >= 3);
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 100);
}

void TestDecoder::noPortNoIntake()
{
    // Without an open port nothing is read, but the timer is re-armed.
    Access::setPortOpen(line->win(), false);
    Access::pollTimer(line->win())->stop();
    QVERIFY(line->send("@a-1;"));
    Access::poll(line->win());
    QCOMPARE(line->waiting(), 5);
    QCOMPARE(line->text("labelNdbmrms"), QStringLiteral("-50.0 dBm"));
    QVERIFY(Access::pollTimer(line->win())->isActive());
    QCOMPARE(Access::pollTimer(line->win())->interval(), 100);

    Access::setPortOpen(line->win(), true);
    Access::poll(line->win());
    QCOMPARE(line->waiting(), 0);
    QCOMPARE(line->text("labelNdbmrms"), QStringLiteral("-1.0 dBm"));
}

void TestDecoder::messages_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QStringList>("expected");

    const QStringList rms234 = {"labelNdbmrms=-23.4 dBm", "labelNvoltrms=15.12 mV",
                                "labelNwattrms=4.571 uW"};
    const QStringList rmsZero = {"labelNdbmrms=0.0 dBm", "labelNvoltrms=223.6 mV",
                                 "labelNwattrms=1.000 mW"};
    const QStringList rmsKept = {"labelNdbmrms=-50.0 dBm", "labelNvoltrms=707.1 uV",
                                 "labelNwattrms=10.00 nW"};
    const QStringList pepKept = {"labelNdbmpep=-60.0 dBm", "labelNvoltpep=223.6 uV",
                                 "labelNwattpep=1.000 nW"};
    const QStringList rfTitles = {"groupBoxrms=AVG/RMS", "groupBoxpep=PEP"};
    const QStringList audioTitles = {"groupBoxrms=Audio", "groupBoxpep=Audio/Peak"};

    // Levels and type letters.
    QTest::newRow("RMS level") << QByteArray("@a-23.4;") << rms234 + pepKept;
    QTest::newRow("PEP level") << QByteArray("@b13.0;")
                               << QStringList{"labelNdbmpep=13.0 dBm", "labelNvoltpep=998.8 mV",
                                              "labelNwattpep=19.95 mW"} +
                                      rmsKept;
    QTest::newRow("sticky type from before this case")
        << QByteArray("@-5;") << QStringList{"labelNdbmpep=-5.0 dBm"} + rmsKept;
    QTest::newRow("level beyond the range")
        << QByteArray("@a1e300;")
        << QStringList{"labelNdbmrms=200.0 dBm", "labelNvoltrms=2236067977.5 V",
                       "labelNwattrms=100000000000000.000 kW"};
    QTest::newRow("Latin-1 byte in the text") << QByteArray("@a-1\xb2;") << rmsZero;

    // Status messages.
    QTest::newRow("status") << QByteArray("@s2*17*20.0*10.0*1;")
                            << QStringList{"labeladxx=AD8307", "labelmknr=17", "labeldbm=20.0 dBm",
                                           "labelattdb=10.0 dB", "labelzsatz=" + recordingRuns} +
                                   rfTitles;
    QTest::newRow("recording other value keeps running text")
        << QByteArray("@s0*1*0*0*1;@s0*7*12.5*20*2;")
        << QStringList{"labelmknr= 7", "labeldbm=12.5 dBm", "labelattdb=20.0 dB",
                       "labeladxx=AD8362", "labelzsatz=" + recordingRuns};
    QTest::newRow("missing sections")
        << QByteArray("@s0*1*0*0*1;@s3;")
        << QStringList{"labeladxx=AD8307 NF", "labelmknr= 0", "labeldbm=0.0 dBm",
                       "labelattdb=0.0 dB", "labelzsatz="} +
               audioTitles;
    QTest::newRow("negative number")
        << QByteArray("@s0*-5*-12.5*-3*0;")
        << QStringList{"labelmknr=-5", "labeldbm=-12.5 dBm", "labelattdb=-3.0 dB"};
    QTest::newRow("maximum level and attenuator beyond the range")
        << QByteArray("@s0*5*1e300*-1e300*0;")
        << QStringList{"labeldbm=200.0 dBm", "labelattdb=-200.0 dB"};
    QTest::newRow("maximum level and attenuator at the ends of the range")
        << QByteArray("@s0*5*-200*200*0;")
        << QStringList{"labeldbm=-200.0 dBm", "labelattdb=200.0 dB"};

    // Heads.
    QTest::newRow("audio head 1") << QByteArray("@s1*5*0.0*0.0*0;@a-26.0;")
                                  << QStringList{"labeladxx=AD8362 NF", "labelNdbmrms=-26.0 dBV",
                                                 "labelNvoltrms=50.12 mV", "labelNwattrms="} +
                                         audioTitles + pepKept;
    QTest::newRow("unknown head 4") << QByteArray("@s4*1*1*1*0;@a-23.4;")
                                    << QStringList{"labeladxx=Unbekannt"} + rms234 + rfTitles;
    QTest::newRow("head 5") << QByteArray("@s5*1*1*1*0;@a-23.4;")
                            << QStringList{"labeladxx=AD8361 linear"} + rms234 + rfTitles;
    QTest::newRow("audio, then RF again") << QByteArray("@s1*5*0*0*0;@s2*5*0*0*0;@a-23.4;")
                                          << QStringList{"labeladxx=AD8307"} + rms234 + rfTitles;
    QTest::newRow("level shown before the head changes")
        << QByteArray("@a-23.4;@s3*1*0*0*0;") << rms234 + audioTitles;
}

void TestDecoder::messages()
{
    QFETCH(QByteArray, stream);
    QFETCH(QStringList, expected);
    QVERIFY(line->feed(stream));
    QVERIFY(check(expected));
}

void TestDecoder::batchOfThousandBytes()
{
    // A delayed poll finds a full thousand bytes waiting, the last message
    // ending in the very last byte. None of them may be lost.
    QByteArray batch = "@b-7.5;";
    const QByteArray last = "@a-12.5;";
    batch += QByteArray(1000 - batch.size() - last.size(), '.');
    batch += last;
    QCOMPARE(batch.size(), 1000);

    QVERIFY(line->send(batch));
    QCOMPARE(line->waiting(), 1000);
    QTRY_COMPARE(line->waiting(), 0); // the poll timer takes them in
    QTRY_COMPARE(line->text("labelNdbmrms"), QStringLiteral("-12.5 dBm"));
    QCOMPARE(line->text("labelNdbmpep"), QStringLiteral("-7.5 dBm"));
    QCOMPARE(Access::rxTail(line->win()), Access::rxHead(line->win()));
}

void TestDecoder::download()
{
    // "&Lesen", then the meter's header and three data sets with live
    // readings in between.
    Access::requestDownload(line->win());
    QVERIFY(line->pty().waitForReceived("#d;"));
    auto *refresh = line->win().findChild<QPushButton *>("Buttonrefresh");
    QVERIFY(refresh);

    QVERIFY(line->feed("@k2*60;@a-23.4;@d-2345.9*-1200;\r\n@s0*1*0*0*1;"));
    QVERIFY(line->feed("@d  -1 2 * 1000;@b13.0;@d1*"));
    QCOMPARE(Access::recordCount(line->win()), 2);
    QVERIFY(!refresh->isEnabled());
    // The download completes (listing, labels) before its last data set is
    // counted.
    int countAtListing = -1;
    const QMetaObject::Connection listed =
        QObject::connect(line->win().findChild<QTextBrowser *>(), &QTextBrowser::textChanged,
                         [&] { countAtListing = Access::recordCount(line->win()); });
    const bool fed = line->feed("2;@a-20;");
    QObject::disconnect(listed);
    QVERIFY(fed);
    QCOMPARE(countAtListing, 2);

    QCOMPARE(Access::lastRecordIndex(line->win()), 2);
    QCOMPARE(Access::recordCount(line->win()), 3);
    QCOMPARE(Access::rmsValues(line->win())[0], -2345);
    QCOMPARE(Access::pepValues(line->win())[0], -1200);
    QCOMPARE(Access::rmsValues(line->win())[1], -12);
    QCOMPARE(Access::pepValues(line->win())[1], 1000);
    QCOMPARE(Access::rmsValues(line->win())[2], 1);
    QCOMPARE(Access::pepValues(line->win())[2], 2);
    QCOMPARE(line->text("labelsek"), QStringLiteral("Zwischenzeit 60 Sek."));
    QCOMPARE(line->text("labelanzahl"), QStringLiteral("3 Datensaetze"));
    QVERIFY(refresh->isEnabled());
    // The live display went on meanwhile.
    QVERIFY(
        check({"labelNdbmrms=-20.0 dBm", "labelNdbmpep=13.0 dBm", "labelzsatz=" + recordingRuns}));
}

QTEST_MAIN(TestDecoder)
#include "tst_decoder.moc"
