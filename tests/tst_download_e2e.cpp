// A whole download, end to end: the simulated meter (tavrold-sim) on COM1 of
// a sandboxed ports folder, found by the program's own search, streaming live
// readings, and answering "&Lesen" with its recording while the live readings
// go on. The listing must show exactly the data sets the meter recorded.
//
// What the meter recorded is asked of a second simulator with the same seed
// and settings (its recording depends on nothing else), on a line of the
// test's own in a ports folder the program never sees.

#include "mainwindow.h"
#include "portssandbox.h"
#include "printfformat.h"
#include "programline.h"
#include "simulatorprocess.h"

#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimeEdit>

namespace {

using Recording = QList<QPair<int, int>>; // RMS, PEP in hundredths of a dBm

// What the meter sends for "#d;": its recording, read from a simulator of our
// own (no streaming asked for, so the download comes alone).
Recording recordingOf(const QStringList &arguments, int count, QString *error)
{
    QTemporaryDir dir;
    SimulatorProcess sim(dir.path() + QStringLiteral("/data"));
    if (!sim.start(arguments)) {
        *error = QStringLiteral("reference simulator did not start: ") + sim.errors();
        return {};
    }
    const QString device = sim.linkTarget(QStringLiteral("COM1"));
    if (!device.startsWith(QLatin1String("/dev/pts/"))) { // never a real serial port
        *error = QStringLiteral("unexpected device ") + device;
        return {};
    }
    ProgramLine line;
    if (!line.open(device)) {
        *error = QStringLiteral("cannot open ") + device;
        return {};
    }
    if (line.write("#d;")) {
        line.waitFor(
            [&] { return line.received.count("@d") >= count && line.received.endsWith(';'); },
            120000);
    }
    line.close();

    Recording recording;
    static const QRegularExpression dataSet(QStringLiteral("@d(-?\\d+)\\*(-?\\d+);"));
    for (const QRegularExpressionMatch &m : dataSet.globalMatch(QString::fromLatin1(line.received)))
        recording.append({m.captured(1).toInt(), m.captured(2).toInt()});
    if (recording.size() != count)
        *error = QStringLiteral("reference recording has %1 data sets, not %2")
                     .arg(recording.size())
                     .arg(count);
    return recording;
}

// The listing rows the recording must give, made with the printf formats.
QStringList expectedRows(const Recording &recording, const QTime &start, int interval)
{
    QStringList rows;
    QTime t = start;
    for (int i = 0; i < recording.size(); ++i) {
        t = t.addSecs(interval);
        rows << PrintfFormat::listingRow(i + 1, t, recording.at(i).first, recording.at(i).second);
    }
    return rows;
}

} // namespace

class TestDownloadEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void download_data();
    void download();
};

void TestDownloadEndToEnd::initTestCase()
{
    if (!QFileInfo(SimulatorProcess::program()).isExecutable())
        QSKIP("the simulated meter is not built here");
}

void TestDownloadEndToEnd::download_data()
{
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("interval");
    QTest::addColumn<int>("timeoutSec");

    // About two seconds of data sets at the program's intake of some ten
    // kilobytes a second: live readings come in between.
    QTest::newRow("1500 data sets") << 1500 << 30 << 60;
    // A full recording: some half a minute.
    QTest::newRow("16000 data sets") << 16000 << 7 << 300;
}

void TestDownloadEndToEnd::download()
{
    QFETCH(int, records);
    QFETCH(int, interval);
    QFETCH(int, timeoutSec);
    const QStringList arguments = {"--port",
                                   "COM1",
                                   "--full-speed",
                                   "--records",
                                   QString::number(records),
                                   "--interval",
                                   QString::number(interval),
                                   "--seed",
                                   QString::number(4711 + records)};

    QString error;
    const Recording recording = recordingOf(arguments, records, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    PortsSandbox sandbox; // every COM name blocked but the simulator's COM1
    SimulatorProcess meter(sandbox);
    QVERIFY2(meter.start(arguments), qPrintable(meter.errors()));

    MainWindow w;
    w.show();
    auto *tabs = w.findChild<QTabWidget *>("tabWidget");
    auto *rmsLabel = w.findChild<QLabel *>("labelNdbmrms");
    auto *seconds = w.findChild<QLabel *>("labelsek");
    auto *count = w.findChild<QLabel *>("labelanzahl");
    auto *refresh = w.findChild<QPushButton *>("Buttonrefresh");
    auto *listing = w.findChild<QTextBrowser *>("textBrowser");
    QVERIFY(tabs && rmsLabel && seconds && count && refresh && listing);

    // The search finds the meter, which then streams its readings.
    QTRY_VERIFY_WITH_TIMEOUT(tabs->isEnabled(), 15000);
    const QString formText = rmsLabel->text();
    QTRY_VERIFY_WITH_TIMEOUT(rmsLabel->text() != formText, 5000);

    const QTime start(22, 30, 15);
    w.findChild<QTimeEdit *>("timeEdit")->setTime(start);
    w.findChild<QAction *>("actiond_holen")->trigger();
    QCOMPARE(tabs->currentIndex(), 1);

    // Until the download completes, the live readings keep changing.
    QSet<QString> liveTexts;
    const QString done = QStringLiteral("%1 Datensaetze").arg(records);
    const bool completed = QTest::qWaitFor(
        [&] {
            liveTexts.insert(rmsLabel->text());
            return count->text() == done;
        },
        timeoutSec * 1000);
    QVERIFY2(completed, qPrintable(QStringLiteral("labelanzahl: \"%1\"").arg(count->text())));
    QVERIFY2(liveTexts.size() >= 2, "no live reading arrived during the download");

    QCOMPARE(seconds->text(), QStringLiteral("Zwischenzeit %1 Sek.").arg(interval));
    QVERIFY(refresh->isEnabled());
    QVERIFY(w.findChild<QAction *>("action_Speichern")->isEnabled());
    const QStringList lines = listing->toPlainText().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), records + 2);
    QCOMPARE(lines.at(0), QString("Datensatz \tZeitpunkt \tRMS \tPEP"));
    QCOMPARE(lines.at(1), QString(44, QLatin1Char('=')));
    const QStringList expected = expectedRows(recording, start, interval);
    for (int i = 0; i < records; ++i) {
        if (lines.at(i + 2) != expected.at(i))
            QCOMPARE(lines.at(i + 2), expected.at(i)); // the first difference only
    }
    QCOMPARE(meter.output().count(QLatin1String("#d;")), 1);
}

QTEST_MAIN(TestDownloadEndToEnd)
#include "tst_download_e2e.moc"
