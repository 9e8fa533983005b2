// The store of downloaded data sets: the download request, the header and
// data-set steps the decoder hands its messages to, and the completion of a
// download as the user sees it (listing, labels, refresh button).

#include "mainwindow.h"
#include "mainwindowtestaccess.h"
#include "portssandbox.h"
#include "ptymeter.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include <climits>

using Access = MainWindowTestAccess;

namespace {

// What the user sees of a download on the "Daten" page.
struct Visible
{
    QString listing;
    QString seconds;
    QString count;
    bool refreshEnabled;
    bool saveEnabled;

    bool operator==(const Visible &o) const
    {
        return listing == o.listing && seconds == o.seconds && count == o.count &&
               refreshEnabled == o.refreshEnabled && saveEnabled == o.saveEnabled;
    }
};

Visible visible(MainWindow &w)
{
    return {w.findChild<QTextBrowser *>("textBrowser")->toPlainText(),
            w.findChild<QLabel *>("labelsek")->text(), w.findChild<QLabel *>("labelanzahl")->text(),
            w.findChild<QPushButton *>("Buttonrefresh")->isEnabled(),
            w.findChild<QAction *>("action_Speichern")->isEnabled()};
}

QStringList listingRows(MainWindow &w)
{
    QStringList lines = visible(w).listing.split(QLatin1Char('\n'));
    return lines.mid(2); // header and rule
}

// Messages as the decoder hands them over: "k..." a download header, "d..."
// a data set (the type letter is not part of the text).
void feed(MainWindow &w, const QStringList &messages)
{
    for (const QString &m : messages) {
        if (m.startsWith(QLatin1Char('k')))
            Access::storeHeader(w, m.mid(1));
        else
            Access::storeDataSet(w, m.mid(1));
    }
}

// Every slot and counter of the store set to something a request must clear.
void fillStore(MainWindow &w, int value)
{
    Access::setStore(w, 77, 33);
    Access::setRecordCount(w, 12);
    for (int i = 0; i < MainWindow::RecordCapacity; ++i) {
        Access::rmsValues(w)[i] = value;
        Access::pepValues(w)[i] = -value;
    }
}

void startDownload(MainWindow &w)
{
    w.findChild<QAction *>("actiond_holen")->trigger();
}

} // namespace

class TestRecordStore : public QObject
{
    Q_OBJECT

private slots:
    void request_data();
    void request();
    void header_data();
    void header();
    void dataSetFields_data();
    void dataSetFields();
    void completion_data();
    void completion();
    void dataSetsAfterCompletion();
    void secondRequestKeepsOldListing();
    void capacity_data();
    void capacity();
    void countersNearTheLimit();
};

// "&Lesen" clears the store in any state, shows the "Daten" page, sends "#d;"
// only while a port is open, and leaves what the last download showed.
void TestRecordStore::request_data()
{
    QTest::addColumn<bool>("portOpen");
    QTest::newRow("port open") << true;
    QTest::newRow("port closed") << false;
}

void TestRecordStore::request()
{
    QFETCH(bool, portOpen);
    PortsSandbox sandbox;
    PtyMeter meter(sandbox, QStringLiteral("COM3"));
    QVERIFY(meter.isValid());
    MainWindow w;
    Access::meterFound(w);
    if (portOpen)
        QVERIFY(Access::openPort(w, QStringLiteral("COM3")));

    feed(w, {"k1*5", "d100*200", "d300*400"});
    const Visible before = visible(w);
    QVERIFY(before.refreshEnabled);
    fillStore(w, 4711);

    startDownload(w);
    QCOMPARE(Access::lastRecordIndex(w), 0);
    QCOMPARE(Access::recordIntervalSec(w), 1);
    QCOMPARE(Access::recordCount(w), 0);
    for (int i = 0; i < MainWindow::RecordCapacity; ++i) {
        if (Access::rmsValues(w)[i] != 0 || Access::pepValues(w)[i] != 0)
            QFAIL(qPrintable(QStringLiteral("slot %1 not cleared").arg(i)));
    }
    QCOMPARE(w.findChild<QTabWidget *>("tabWidget")->currentIndex(), 1);
    QVERIFY(visible(w) == before);

    if (portOpen) {
        QVERIFY(meter.waitForReceived("#d;"));
        QCOMPARE(meter.received(), QByteArray("#d;"));
    } else {
        QTest::qWait(200);
        QCOMPARE(meter.received(), QByteArray());
    }
}

void TestRecordStore::header_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("lastIndex");
    QTest::addColumn<int>("interval");

    QTest::newRow("plain") << "4*10" << 4 << 10;
    QTest::newRow("further fields ignored") << "9*60*1*2" << 9 << 60;
    QTest::newRow("surrounding blanks") << " 7 * 30 " << 7 << 30;
    QTest::newRow("negative") << "-3*-20" << -3 << -20;
    QTest::newRow("not integers") << "4.5*x" << 0 << 0;
    QTest::newRow("blank inside a number") << "1 2*1" << 0 << 1;
    QTest::newRow("missing interval") << "12" << 12 << 0;
    QTest::newRow("empty") << "" << 0 << 0;
    QTest::newRow("too large") << "99999999999*1" << 0 << 1;
    QTest::newRow("largest") << "2147483647*-2147483648" << INT_MAX << INT_MIN;
}

void TestRecordStore::header()
{
    QFETCH(QString, text);
    QFETCH(int, lastIndex);
    QFETCH(int, interval);
    PortsSandbox sandbox;
    MainWindow w;
    Access::meterFound(w);
    feed(w, {"d5*5"}); // a first download, completed at once
    const Visible before = visible(w);

    Access::storeHeader(w, text);
    QCOMPARE(Access::lastRecordIndex(w), lastIndex);
    QCOMPARE(Access::recordIntervalSec(w), interval);
    QCOMPARE(Access::recordCount(w), 1);
    QVERIFY(visible(w) == before);
}

// Blanks are removed from both fields, the numbers are read with '.' and cut
// toward zero; anything unreadable is 0.
void TestRecordStore::dataSetFields_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("rms");
    QTest::addColumn<int>("pep");

    QTest::newRow("blank inside") << "-12 34*1000" << -1234 << 1000;
    QTest::newRow("blanks everywhere") << " 1 2 . 5 * - 7 " << 12 << -7;
    QTest::newRow("cut toward zero") << "99.99*-0.5" << 99 << 0;
    QTest::newRow("cut negative") << "-2345.9*123.9" << -2345 << 123;
    QTest::newRow("not numbers") << "x*1,5" << 0 << 0;
    QTest::newRow("missing pep") << "250" << 250 << 0;
    QTest::newRow("empty") << "" << 0 << 0;
    QTest::newRow("further fields ignored") << "1*2*3" << 1 << 2;
    QTest::newRow("exponent") << "1e3*-2.5e2" << 1000 << -250;
    QTest::newRow("not finite") << "nan*inf" << 0 << 0;
    QTest::newRow("too large") << "3000000000*-1e300" << 0 << 0;
    QTest::newRow("largest") << "2147483647.9*-2147483648.9" << INT_MAX << INT_MIN;
    QTest::newRow("tab is no blank") << "1\t2*3" << 0 << 3;
}

void TestRecordStore::dataSetFields()
{
    QFETCH(QString, text);
    QFETCH(int, rms);
    QFETCH(int, pep);
    PortsSandbox sandbox;
    MainWindow w;
    Access::meterFound(w);
    startDownload(w);
    feed(w, {"k2*1", "d1*1"});

    Access::storeDataSet(w, text);
    QCOMPARE(Access::rmsValues(w)[1], rms);
    QCOMPARE(Access::pepValues(w)[1], pep);
    QCOMPARE(Access::recordCount(w), 2);
    QCOMPARE(Access::rmsValues(w)[0], 1); // the neighbours are left alone
    QCOMPARE(Access::rmsValues(w)[2], 0);
}

// A download completes exactly when the data set at the announced last index
// is stored; the listing, both labels and the refresh button show it then.
void TestRecordStore::completion_data()
{
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QStringList>("rows"); // empty: never completed
    QTest::addColumn<QString>("seconds");
    QTest::addColumn<QString>("count");
    QTest::addColumn<int>("recordCount");

    QTest::newRow("header then data sets")
        << QStringList{"k4*10", "d-1234*-1000", "d-12 34*1000", "d0*0", "d5*-5", "d123456*1"}
        << QStringList{"00001 \t00:00:10\t-12.34\t-10.00\t dBm ",
                       "00002 \t00:00:20\t-12.34\t10.00\t dBm ",
                       "00003 \t00:00:30\t0.00\t0.00\t dBm ",
                       "00004 \t00:00:40\t0.05\t-0.05\t dBm ",
                       "00005 \t00:00:50\t1234.56\t0.01\t dBm "}
        << "Zwischenzeit 10 Sek."
        << "5 Datensaetze" << 5;
    QTest::newRow("one short") << QStringList{"k4*10", "d1*1", "d2*2", "d3*3", "d4*4"}
                               << QStringList() << ""
                               << "" << 4;
    QTest::newRow("header only") << QStringList{"k4*10"} << QStringList() << ""
                                 << "" << 0;
    QTest::newRow("data set without header")
        << QStringList{"d-500*250"} << QStringList{"00001 \t00:00:01\t-5.00\t2.50\t dBm "}
        << "Zwischenzeit 1 Sek."
        << "1 Datensaetze" << 1;
    QTest::newRow("header with last index 0")
        << QStringList{"k0*60", "d100*200"} << QStringList{"00001 \t00:01:00\t1.00\t2.00\t dBm "}
        << "Zwischenzeit 60 Sek."
        << "1 Datensaetze" << 1;
    QTest::newRow("unreadable last index")
        << QStringList{"kx*60", "d100*200", "d300*400"}
        << QStringList{"00001 \t00:01:00\t1.00\t2.00\t dBm "} << "Zwischenzeit 60 Sek."
        << "1 Datensaetze" << 2;
    // The first data set completes the download (last index 0); the late
    // header completes nothing, and its interval is not shown.
    QTest::newRow("header after the data sets")
        << QStringList{"d100*100", "d200*200", "d300*300", "k1*5", "d400*400"}
        << QStringList{"00001 \t00:00:01\t1.00\t1.00\t dBm "} << "Zwischenzeit 1 Sek."
        << "1 Datensaetze" << 4;
    QTest::newRow("negative last index")
        << QStringList{"k-1*10", "d1*1", "d2*2"} << QStringList() << ""
        << "" << 2;
    QTest::newRow("negative interval")
        << QStringList{"k1*-30", "d1*1", "d2*2"}
        << QStringList{"00001 \t23:59:30\t0.01\t0.01\t dBm ", "00002 \t23:59:00\t0.02\t0.02\t dBm "}
        << "Zwischenzeit -30 Sek."
        << "2 Datensaetze" << 2;
}

void TestRecordStore::completion()
{
    QFETCH(QStringList, messages);
    QFETCH(QStringList, rows);
    QFETCH(QString, seconds);
    QFETCH(QString, count);
    QFETCH(int, recordCount);
    PortsSandbox sandbox;
    MainWindow w;
    Access::meterFound(w);
    startDownload(w);

    feed(w, messages);
    const Visible v = visible(w);
    QCOMPARE(Access::recordCount(w), recordCount);
    QCOMPARE(v.seconds, seconds);
    QCOMPARE(v.count, count);
    QCOMPARE(v.refreshEnabled, !rows.isEmpty());
    QCOMPARE(v.saveEnabled, !rows.isEmpty());
    if (rows.isEmpty()) {
        QCOMPARE(v.listing, QString());
    } else {
        QCOMPARE(v.listing.section(QLatin1Char('\n'), 0, 1),
                 QString("Datensatz \tZeitpunkt \tRMS \tPEP\n" + QString(44, '=')));
        QCOMPARE(listingRows(w), rows);
    }
}

// Data sets after the last announced one are stored at the following
// indices but change nothing the user sees.
void TestRecordStore::dataSetsAfterCompletion()
{
    PortsSandbox sandbox;
    MainWindow w;
    Access::meterFound(w);
    startDownload(w);
    feed(w, {"k4*10", "d1*1", "d2*2", "d3*3", "d4*4", "d5*5"});
    const Visible done = visible(w);
    QCOMPARE(listingRows(w).size(), 5);

    feed(w, {"d-600*600", "d-700*700"});
    QCOMPARE(Access::rmsValues(w)[5], -600);
    QCOMPARE(Access::pepValues(w)[6], 700);
    QCOMPARE(Access::recordCount(w), 7);
    QVERIFY(visible(w) == done);

    // Refresh still lists only up to the announced last index.
    QTest::mouseClick(w.findChild<QPushButton *>("Buttonrefresh"), Qt::LeftButton);
    QVERIFY(visible(w) == done);
}

// A second request keeps the old listing, labels and enabled controls until
// the new download completes.
void TestRecordStore::secondRequestKeepsOldListing()
{
    PortsSandbox sandbox;
    MainWindow w;
    Access::meterFound(w);
    startDownload(w);
    feed(w, {"k1*10", "d1*1", "d2*2"});
    const Visible first = visible(w);

    startDownload(w);
    QVERIFY(visible(w) == first);
    feed(w, {"k2*60", "d7*7", "d8*8"});
    QVERIFY(visible(w) == first);

    feed(w, {"d9*9"});
    QCOMPARE(visible(w).seconds, QString("Zwischenzeit 60 Sek."));
    QCOMPARE(visible(w).count, QString("3 Datensaetze"));
    QCOMPARE(listingRows(w), (QStringList{"00001 \t00:01:00\t0.07\t0.07\t dBm ",
                                          "00002 \t00:02:00\t0.08\t0.08\t dBm ",
                                          "00003 \t00:03:00\t0.09\t0.09\t dBm "}));
}

// The store holds 16000 data sets. Later ones of the same download are
// counted but dropped; the listing never goes past the last slot.
void TestRecordStore::capacity_data()
{
    QTest::addColumn<int>("lastIndex");
    QTest::addColumn<int>("sent");
    QTest::addColumn<int>("listedRows"); // 0: not completed
    QTest::addColumn<QString>("count");

    QTest::newRow("full store") << 15999 << 16000 << 16000 << "16000 Datensaetze";
    QTest::newRow("full store and more") << 15999 << 16005 << 16000 << "16000 Datensaetze";
    QTest::newRow("one announced too many") << 16000 << 16001 << 16000 << "16001 Datensaetze";
    QTest::newRow("huge announcement") << INT_MAX << 17000 << 0 << "";
}

void TestRecordStore::capacity()
{
    QFETCH(int, lastIndex);
    QFETCH(int, sent);
    QFETCH(int, listedRows);
    QFETCH(QString, count);
    PortsSandbox sandbox;
    MainWindow w;
    Access::meterFound(w);
    startDownload(w);

    Access::storeHeader(w, QStringLiteral("%1*1").arg(lastIndex));
    for (int i = 0; i < sent; ++i)
        Access::storeDataSet(w, QStringLiteral("%1*%2").arg(i + 1).arg(-(i + 1)));

    QCOMPARE(Access::recordCount(w), sent);
    QCOMPARE(Access::rmsValues(w)[0], 1);
    QCOMPARE(Access::rmsValues(w)[15999], 16000);
    QCOMPARE(Access::pepValues(w)[15999], -16000);
    QCOMPARE(visible(w).count, count);
    if (listedRows == 0) {
        QCOMPARE(visible(w).listing, QString());
        // The user can still list what arrived: the store's slots, no more.
        w.fuellentxt();
    }
    const QStringList rows = listingRows(w);
    QCOMPARE(rows.size(), 16000);
    QCOMPARE(rows.last(), QString("16000 \t04:26:40\t160.00\t-160.00\t dBm "));
}

// The counters never overflow, whatever the meter announces and however
// long it sends.
void TestRecordStore::countersNearTheLimit()
{
    PortsSandbox sandbox;
    MainWindow w;
    Access::meterFound(w);
    startDownload(w);

    Access::setLastRecordIndex(w, INT_MAX - 1);
    Access::setRecordCount(w, INT_MAX - 1);
    Access::storeDataSet(w, QStringLiteral("1*1"));
    QCOMPARE(visible(w).count, QString("2147483647 Datensaetze"));
    QCOMPARE(Access::recordCount(w), INT_MAX);
    const Visible done = visible(w);

    Access::setLastRecordIndex(w, INT_MAX);
    Access::setRecordCount(w, INT_MAX);
    Access::storeDataSet(w, QStringLiteral("2*2"));
    Access::storeDataSet(w, QStringLiteral("3*3"));
    QCOMPARE(Access::recordCount(w), INT_MAX);
    QVERIFY(visible(w) == done);
}

QTEST_MAIN(TestRecordStore)
#include "tst_recordstore.moc"
