// A download of the meter's recording: the session's steps (header, data
// set, stall, loss) with its result and texts, and what the window shows of
// it (listing, labels, refresh and save, the progress in the status bar).
// How the fields of a header and a data set are read is the protocol's
// (tst_protocol, and the decoder's download in tst_decoder).

#include "downloadsession.h"
#include "mainwindow.h"
#include "mainwindowtestaccess.h"
#include "portssandbox.h"
#include "ptymeter.h"

#include <QAction>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>

#include <climits>
#include <memory>

using Access = MainWindowTestAccess;
using State = DownloadSession::State;

Q_DECLARE_METATYPE(DownloadSession::State)

namespace {

// Steps as a download meets them, each at a time in ms: "k..." a header,
// "d..." a data set, "n*d..." n data sets alike, "stall" a look at the clock,
// "lost" the meter gone.
struct Step
{
    qint64 ms;
    QString what;
};
using Steps = QList<Step>;

int run(DownloadSession &s, const Steps &steps)
{
    int completions = 0;
    for (const Step &step : steps) {
        if (step.what == QLatin1String("stall")) {
            s.checkStall(step.ms);
        } else if (step.what == QLatin1String("lost")) {
            s.lose();
        } else if (step.what.startsWith(QLatin1Char('k'))) {
            s.takeHeader(step.what.mid(1), step.ms);
        } else {
            const int star = step.what.indexOf(QLatin1Char('d'));
            const int times = star > 0 ? step.what.left(star - 1).toInt() : 1;
            for (int i = 0; i < times; ++i)
                s.takeDataSet(step.what.mid(star + 1), step.ms, [&] { ++completions; });
        }
    }
    return completions;
}

QStringList listingRows(const QString &listing)
{
    return listing.split(QLatin1Char('\n')).mid(2); // header and rule
}

QString text(const MainWindow &w, const char *name)
{
    return w.findChild<QLabel *>(QLatin1String(name))->text();
}

} // namespace

class TestRecordStore : public QObject
{
    Q_OBJECT

private slots:
    void steps_data();
    void steps();
    void counterNearTheLimit();
    void windowListsInterruptedDownload_data();
    void windowListsInterruptedDownload();
    void windowShowsProgressBeside();
    void readAsksOnlyAFoundMeter();
};

// Whole downloads: the state they end in, the data sets stored and those
// in the result, the texts, and how often the download completed.
void TestRecordStore::steps_data()
{
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<State>("state");
    QTest::addColumn<int>("recordCount");
    QTest::addColumn<int>("resultCount");
    QTest::addColumn<int>("completions");
    QTest::addColumn<QString>("progress");

    QTest::newRow("complete") << Steps{{0, "k4*10"}, {100, "5*d1*1"}} << State::Complete << 5 << 5
                              << 1 << "Aufzeichnung gelesen: 5 Datensaetze";
    QTest::newRow("waiting") << Steps{{4999, "stall"}} << State::Waiting << 0 << 0 << 0
                             << "Warte auf Aufzeichnung ...";
    QTest::newRow("receiving") << Steps{{0, "k9*10"}, {10, "3*d1*1"}} << State::Receiving << 3 << 3
                               << 0 << "Lese Datensaetze: 3 von 10 (30 %)";
    // Data sets after the last announced one are stored, not in the result.
    QTest::newRow("more than announced") << Steps{{0, "k1*10"}, {0, "4*d1*1"}} << State::Complete
                                         << 4 << 2 << 1 << "Aufzeichnung gelesen: 2 Datensaetze";
    QTest::newRow("data set without header") << Steps{{0, "d-500*250"}} << State::Complete << 1 << 1
                                             << 1 << "Aufzeichnung gelesen: 1 Datensaetze";
    QTest::newRow("unreadable last index") << Steps{{0, "kx*60"}, {0, "2*d1*1"}} << State::Complete
                                           << 2 << 1 << 1 << "Aufzeichnung gelesen: 1 Datensaetze";
    QTest::newRow("late header completes nothing")
        << Steps{{0, "3*d1*1"}, {0, "k1*5"}, {0, "d1*1"}} << State::Complete << 4 << 2 << 1
        << "Aufzeichnung gelesen: 2 Datensaetze";
    QTest::newRow("empty memory") << Steps{{0, "k-1*60"}, {10000, "stall"}} << State::Empty << 0
                                  << 0 << 0 << "Aufzeichnung leer: 0 Datensaetze";
    QTest::newRow("data sets after an empty memory")
        << Steps{{0, "k-5*60"}, {0, "2*d1*1"}} << State::Empty << 2 << 0 << 0
        << "Aufzeichnung leer: 0 Datensaetze";
    // No data set for 5 s, counted from the request, the header or the last
    // data set; what came is the result.
    QTest::newRow("stalled before the header")
        << Steps{{5000, "stall"}} << State::Stalled << 0 << 0 << 0
        << "Aufzeichnung unterbrochen: 0 Datensaetze, Anzahl unbekannt";
    QTest::newRow("header restarts the clock")
        << Steps{{4000, "k119*60"}, {8999, "stall"}} << State::Receiving << 0 << 0 << 0
        << "Lese Datensaetze: 0 von 120 (0 %)";
    QTest::newRow("stalled after 37 of 120")
        << Steps{{0, "k119*60"}, {3000, "37*d-1000*-900"}, {7999, "stall"}, {8000, "stall"}}
        << State::Stalled << 37 << 37 << 0 << "Aufzeichnung unterbrochen: 37 von 120 Datensaetzen";
    QTest::newRow("a header after a stall clears it")
        << Steps{{5000, "stall"}, {6000, "k9*1"}, {10999, "stall"}} << State::Receiving << 0 << 0
        << 0 << "Lese Datensaetze: 0 von 10 (0 %)";
    QTest::newRow("goes on after a stall")
        << Steps{{0, "k2*1"}, {0, "d1*1"}, {5000, "stall"}, {9000, "2*d2*2"}} << State::Complete
        << 3 << 3 << 1 << "Aufzeichnung gelesen: 3 Datensaetze";
    QTest::newRow("lost after 37 of 120")
        << Steps{{0, "k119*60"}, {0, "37*d1*1"}, {0, "lost"}, {9000, "stall"}} << State::Lost << 37
        << 37 << 0 << "Aufzeichnung abgebrochen: 37 von 120 Datensaetzen";
    QTest::newRow("lost after completion")
        << Steps{{0, "k0*1"}, {0, "d1*1"}, {0, "lost"}} << State::Complete << 1 << 1 << 1
        << "Aufzeichnung gelesen: 1 Datensaetze";
    // The store holds 16000; later data sets are counted, never stored.
    QTest::newRow("full store and more")
        << Steps{{0, "k15999*1"}, {0, "16005*d1*1"}} << State::Complete << 16005 << 16000 << 1
        << "Aufzeichnung gelesen: 16000 Datensaetze";
    QTest::newRow("one announced too many")
        << Steps{{0, "k16000*1"}, {0, "16001*d1*1"}} << State::Complete << 16001 << 16000 << 1
        << "Aufzeichnung gelesen: 16001 Datensaetze";
    QTest::newRow("huge announcement, stalled")
        << Steps{{0, "k2147483646*1"}, {0, "16002*d1*1"}, {5000, "stall"}} << State::Stalled
        << 16002 << 16000 << 0 << "Aufzeichnung unterbrochen: 16000 von 2147483647 Datensaetzen";
}

void TestRecordStore::steps()
{
    QFETCH(Steps, steps);
    QFETCH(State, state);
    QFETCH(int, recordCount);
    QFETCH(int, resultCount);
    QFETCH(int, completions);
    QFETCH(QString, progress);

    const auto s = std::make_unique<DownloadSession>();
    s->rmsValues[DownloadSession::Capacity - 1] = 5; // a request clears every slot
    s->start(true, 0);
    QCOMPARE(s->rmsValues[DownloadSession::Capacity - 1], 0);
    QCOMPARE(run(*s, steps), completions);
    QCOMPARE(s->state(), state);
    QCOMPARE(s->recordCount, recordCount);
    QCOMPARE(s->resultCount(), resultCount);
    QCOMPARE(s->progressText(), progress);
    QCOMPARE(listingRows(s->listingText(QTime(0, 0))).size(), resultCount);
    QCOMPARE(s->csvFile(QTime(0, 0)).count("\r\n"), resultCount + 1);
}

// The count never overflows, whatever the meter announces and however long
// it sends; the count text of the last index is taken in 64 bits.
void TestRecordStore::counterNearTheLimit()
{
    const auto s = std::make_unique<DownloadSession>();
    s->lastRecordIndex = INT_MAX - 1;
    s->recordCount = INT_MAX - 1;
    QCOMPARE(run(*s, {{0, "3*d1*1"}}), 1);
    QCOMPARE(s->recordCount, INT_MAX);
    QCOMPARE(s->countText(), QStringLiteral("2147483647 Datensaetze"));
}

// A download that breaks off after a complete one: what arrived is listed
// and said to be incomplete, and "Refresh" lists the same, never the old
// download's labels over zeros. An empty memory says so.
void TestRecordStore::windowListsInterruptedDownload_data()
{
    QTest::addColumn<QString>("header");
    QTest::addColumn<int>("dataSets");
    QTest::addColumn<QString>("count");
    QTest::newRow("lost after 37 of 120") << "119*60" << 37 << "37 von 120 Datensaetzen";
    QTest::newRow("empty memory") << "-1*60" << 0 << "0 Datensaetze";
}

void TestRecordStore::windowListsInterruptedDownload()
{
    QFETCH(QString, header);
    QFETCH(int, dataSets);
    QFETCH(QString, count);
    PortsSandbox sandbox;
    MainWindow w;
    Access::meterFound(w);
    Access::setFirmware(w, true, 21);
    Access::setPortOpen(w, true); // no channel: nothing is written
    Access::requestDownload(w);
    Access::storeHeader(w, QStringLiteral("2*1"));
    for (int i = 0; i < 3; ++i)
        Access::storeDataSet(w, QStringLiteral("1*1"));
    QCOMPARE(text(w, "labelanzahl"), QStringLiteral("3 Datensaetze"));

    Access::requestDownload(w);
    Access::storeHeader(w, header);
    for (int i = 0; i < dataSets; ++i)
        Access::storeDataSet(w, QStringLiteral("-1000*-900"));
    Access::downloadLost(w);
    Access::setPortOpen(w, false);
    for (int pass = 0; pass < 2; ++pass) {
        QCOMPARE(text(w, "labelanzahl"), count);
        QCOMPARE(text(w, "labelsek"), QStringLiteral("Zwischenzeit 60 Sek."));
        const QStringList rows = listingRows(w.findChild<QTextBrowser *>()->toPlainText());
        QCOMPARE(rows.size(), dataSets);
        if (dataSets > 0)
            QCOMPARE(rows.last(), QStringLiteral("00037 \t00:37:00\t-10.00\t-9.00\t dBm "));
        QTest::mouseClick(w.findChild<QPushButton *>(QStringLiteral("Buttonrefresh")),
                          Qt::LeftButton);
    }
    QVERIFY(w.findChild<QAction *>(QStringLiteral("action_Speichern"))->isEnabled());
}

// The progress has fields of its own in the status bar: a status tip shown
// meanwhile does not hide it, and the bar is there only while it runs.
void TestRecordStore::windowShowsProgressBeside()
{
    PortsSandbox sandbox;
    MainWindow w;
    w.show();
    Access::meterFound(w);
    Access::setFirmware(w, true, 21);
    Access::setPortOpen(w, true);
    auto *bar = w.findChild<QProgressBar *>(QStringLiteral("downloadProgress"));
    QVERIFY(bar && !bar->isVisible());
    Access::requestDownload(w);
    Access::storeHeader(w, QStringLiteral("9*60"));
    for (int i = 0; i < 4; ++i)
        Access::storeDataSet(w, QStringLiteral("1*1"));
    Access::setPortOpen(w, false);
    Access::poll(w);
    w.statusBar()->showMessage(QStringLiteral("Daten als CSV speichern"));
    QCOMPARE(text(w, "downloadStatus"), QStringLiteral("Lese Datensaetze: 4 von 10 (40 %)"));
    QVERIFY(bar->isVisible());
    QCOMPARE(bar->value(), 4);
    QCOMPARE(bar->maximum(), 10);
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Daten als CSV speichern"));

    for (int i = 0; i < 6; ++i)
        Access::storeDataSet(w, QStringLiteral("1*1"));
    Access::poll(w);
    QVERIFY(!bar->isVisible());
    QCOMPARE(text(w, "downloadStatus"), QStringLiteral("Aufzeichnung gelesen: 10 Datensaetze"));
}

QTEST_MAIN(TestRecordStore)
// "Lesen" while the search is still waiting for a port's answer sends
// nothing to whatever sits there: only a meter that has answered is asked for
// its recording. The store is cleared and "Daten" shown all the same.
void TestRecordStore::readAsksOnlyAFoundMeter()
{
    PortsSandbox sandbox;
    PtyMeter device(sandbox, QStringLiteral("COM1")); // never answers "#v;"
    QVERIFY(device.isValid());
    MainWindow w;
    QVERIFY(device.waitForReceived("#v;"));
    Access::setStore(w, 2, 60);
    w.findChild<QAction *>(QStringLiteral("actiond_holen"))->trigger();
    QCOMPARE(w.findChild<QTabWidget *>(QStringLiteral("tabWidget"))->currentIndex(), 1);
    QCOMPARE(Access::recordCount(w), 0);
    QTest::qWait(300);
    QCOMPARE(device.received(), QByteArray("#v;"));
}

#include "tst_recordstore.moc"
