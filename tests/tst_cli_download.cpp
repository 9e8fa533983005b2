// "tavrold-cli download" against the window: the same bytes from the meter
// go to the built tool and to a real main window, and the tool's file must be
// byte for byte the one the window's "Speichern" writes for the same start
// time. Then the downloads that do not complete: what the tool says, what it
// leaves on disk, and how it reports its progress.

#include "clitool.h"
#include "filecontents.h"
#include "mainwindow.h"
#include "mainwindowtestaccess.h"
#include "portssandbox.h"
#include "printfformat.h"
#include "ptymeter.h"
#include "sandboxedmeter.h"
#include "savedialogdriver.h"
#include "simulatorprocess.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>

#include <csignal>
#include <functional>

using Access = MainWindowTestAccess;
using FileContents::contents;
using FileContents::writeFile;

namespace {

const QByteArray CsvHeader("Datensatz;Zeit;RMS;PEP\r\n");

// "@d<rms>*<pep>;" for `count` data sets from `first` on, levels made up
// from the index.
QByteArray dataSets(int first, int count)
{
    QByteArray bytes;
    for (int i = first; i < first + count; ++i)
        bytes += "@d" + QByteArray::number(-(i * 37 % 9000)) + '*' +
                 QByteArray::number(500 - i * 11 % 7000) + ';';
    return bytes;
}

// The window's "Speichern" into `fileName`, through its real save dialog.
bool saveFromWindow(MainWindow &window, const QString &fileName)
{
    auto *save = window.findChild<QAction *>(QStringLiteral("action_Speichern"));
    if (!save || !save->isEnabled())
        return false;
    DialogDriver driver(fileName);
    save->trigger();
    return QFileInfo::exists(fileName);
}

// A main window on its own line (COM20 of the sandbox), as after the search:
// "&Lesen" sends "#d;", and the meter's answer is fed to the line in pieces
// the window's polls take in, until `done`.
class WindowOnLine
{
public:
    explicit WindowOnLine(const PortsSandbox &sandbox) : meter(sandbox, QStringLiteral("COM20"))
    {
        Access::meterFound(window);
    }

    bool download(const QByteArray &reply, const std::function<bool()> &done)
    {
        if (!meter.isValid() || !Access::openPort(window, QStringLiteral("COM20")))
            return false;
        Access::requestDownload(window);
        if (!meter.waitForReceived("#d;"))
            return false;
        qsizetype sent = 0;
        return QTest::qWaitFor(
            [&] {
                const qsizetype piece = qMin<qsizetype>(reply.size() - sent, 999);
                if (piece > 0 && meter.send(reply.mid(sent, piece)))
                    sent += piece;
                Access::poll(window);
                return sent == reply.size() && done();
            },
            120000);
    }

    bool complete() const
    {
        return window.findChild<QPushButton *>(QStringLiteral("Buttonrefresh"))->isEnabled();
    }
    // The status message that closes each test stream has been decoded.
    bool markerSeen() const
    {
        return window.findChild<QLabel *>(QStringLiteral("labelmknr"))->text() ==
               QLatin1String("99");
    }

    QByteArray exportFile(const QTime &start, const QString &fileName)
    {
        window.findChild<QTimeEdit *>(QStringLiteral("timeEdit"))->setTime(start);
        return saveFromWindow(window, fileName) ? contents(fileName) : QByteArray("<not saved>");
    }

    MainWindow window;
    PtyMeter meter;
};

// Closes every test stream: once the window shows it, it has decoded all
// that came before.
const QByteArray Marker("@s0*99*0*0*0;");

} // namespace

class TestCliDownload : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void sameFileAsTheWindow_data();
    void sameFileAsTheWindow();
    void sameFileAsTheWindowFromSimulator();
    void emptyRecording();
    void toStandardOutput_data();
    void toStandardOutput();

    void incomplete_data();
    void incomplete();
    void meterGoneDuringDownload();
    void stopSignalDuringDownload();
    void progressLines();
};

void TestCliDownload::initTestCase()
{
    if (CliTool::program().isEmpty() || SimulatorProcess::program().isEmpty())
        QSKIP("tavrold-cli or tavrold-sim is not built here");
}

void TestCliDownload::sameFileAsTheWindow_data()
{
    QTest::addColumn<QByteArray>("reply"); // the meter's answer to "#d;"
    QTest::addColumn<QString>("start");
    QTest::addColumn<int>("lines"); // data lines the file must hold
    QTest::addColumn<bool>("decimalComma");

    QTest::newRow("five data sets") << "@k4*10;" + dataSets(0, 5) << "12:00:00" << 5 << false;
    QTest::newRow("default start time") << "@k2*60;" + dataSets(0, 3) << "" << 3 << false;
    QTest::newRow("past midnight") << "@k5*20;" + dataSets(0, 6) << "23:59:30" << 6 << false;
    QTest::newRow("interval 0") << "@k2*0;" + dataSets(0, 3) << "06:00:00" << 3 << false;
    QTest::newRow("negative interval") << "@k3*-45;" + dataSets(0, 4) << "00:01:00" << 4 << false;
    QTest::newRow("blanks, decimals, not numbers")
        << QByteArray("@k4*7;@d-12 34*1000;@d99.99*-0.5;@dxyz*;@d-2345.9*-1200;@d*;") << "08:30:15"
        << 5 << false;
    QTest::newRow("live readings, noise and split messages between")
        << QByteArray("\r\n@a-20.1;@k 3*15;xx@d-1000*-900;@b-15.0;@s1*2*3*4*1;@-1100*-950d;"
                      "junk@d-1200*-1000;@a-21;@") +
               "d-1300*-1100;"
        << "10:00:00" << 4 << false;
    QTest::newRow("blanks, decimals, not numbers, decimal comma")
        << QByteArray("@k4*7;@d-12 34*1000;@d99.99*-0.5;@dxyz*;@d-2345.9*-1200;@d*;") << "08:30:15"
        << 5 << true;
    QTest::newRow("data sets after the last are not saved")
        << "@k1*30;" + dataSets(0, 4) << "02:00:00" << 2 << false;
}

void TestCliDownload::sameFileAsTheWindow()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, start);
    QFETCH(int, lines);
    QFETCH(bool, decimalComma);
    const QTime startTime =
        start.isEmpty() ? QTime(0, 0) : QTime::fromString(start, QStringLiteral("HH:mm:ss"));

    SandboxedMeter line(QStringLiteral("COM2"));
    PtyMeter &meter = line.meter;
    QVERIFY(meter.isValid());
    meter.setReply("#d;", reply + Marker);
    QTemporaryDir dir;
    const QString toolFile = dir.filePath(QStringLiteral("tool.csv"));
    const QString windowFile = dir.filePath(QStringLiteral("window.csv"));
    CliTool tool;
    QStringList arguments{"download", "-o", toolFile};
    if (!start.isEmpty())
        arguments << "--start" << start;
    if (decimalComma)
        arguments << "--decimal-comma";
    QVERIFY(tool.run(arguments));
    QCOMPARE(tool.exitCode(), 0);
    QVERIFY2(tool.err.contains("Gespeichert: " + toolFile.toLocal8Bit()), tool.err.constData());
    QVERIFY(meter.waitForReceived("#c;"));
    QVERIFY(meter.received().endsWith("#v;#d;#c;")); // no streaming asked for

    WindowOnLine window(line.sandbox);
    QVERIFY(
        window.download(reply + Marker, [&] { return window.complete() && window.markerSeen(); }));
    const QByteArray saved = window.exportFile(startTime, windowFile);
    const QByteArray written = contents(toolFile);
    QCOMPARE(written.count("\r\n"), lines + 1);
    QVERIFY(written.startsWith(CsvHeader));
    // The only points in the file are decimal points: with a comma, they
    // are all commas.
    QCOMPARE(written, decimalComma ? QByteArray(saved).replace('.', ',') : saved);
    // No temporary file is left beside it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList({"tool.csv", "window.csv"}));
}

// The same recording (the simulator's, for one seed) downloaded by the tool
// and by the window.
void TestCliDownload::sameFileAsTheWindowFromSimulator()
{
    PortsSandbox sandbox;
    QTemporaryDir dir;
    const QString toolFile = dir.filePath(QStringLiteral("tool.csv"));
    const QString windowFile = dir.filePath(QStringLiteral("window.csv"));
    const QStringList settings{"--records", "1500", "--interval",  "7",
                               "--seed",    "4711", "--full-speed"};
    {
        SimulatorProcess sim(sandbox);
        QVERIFY2(sim.start(QStringList{"--port", "COM1"} + settings), qPrintable(sim.errors()));
        CliTool tool;
        QVERIFY(tool.run({"download", "-o", toolFile, "--start", "23:00:00"}));
        QCOMPARE(tool.exitCode(), 0);
        QVERIFY(tool.err.contains("1500 Datensaetze, Zwischenzeit 7 Sek."));
        QVERIFY(QTest::qWaitFor([&] { return sim.output().contains(QLatin1String("#c;")); }, 5000));
    }
    SimulatorProcess sim(sandbox);
    QVERIFY2(sim.start(QStringList{"--port", "COM1"} + settings), qPrintable(sim.errors()));
    MainWindow window;
    Access::meterFound(window);
    QVERIFY(Access::openPort(window, QStringLiteral("COM1")));
    Access::requestDownload(window);
    auto *refresh = window.findChild<QPushButton *>(QStringLiteral("Buttonrefresh"));
    QVERIFY(QTest::qWaitFor(
        [&] {
            Access::poll(window);
            return refresh->isEnabled();
        },
        120000));
    window.findChild<QTimeEdit *>(QStringLiteral("timeEdit"))->setTime(QTime(23, 0));
    QVERIFY(saveFromWindow(window, windowFile));

    const QByteArray written = contents(toolFile);
    QCOMPARE(written.count("\r\n"), 1501);
    QCOMPARE(written, contents(windowFile));
}

// A meter with nothing recorded announces last index -1: the tool saves the
// header line alone, as the window's export of such a store does.
void TestCliDownload::emptyRecording()
{
    SandboxedMeter line(QStringLiteral("COM1"));
    PtyMeter &meter = line.meter;
    QVERIFY(meter.isValid());
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("empty.csv"));
    meter.setReply("#d;", "@k-1*60;");
    CliTool tool;
    QVERIFY(tool.run({"download", "-o", file}));
    QCOMPARE(tool.exitCode(), 0);
    QCOMPARE(contents(file), CsvHeader);
    QVERIFY2(tool.err.contains("Aufzeichnung leer: 0 Datensaetze"), tool.err.constData());
}

// "-o -" and "-o /dev/stdout" write the file to standard output, and nothing
// else goes there.
void TestCliDownload::toStandardOutput_data()
{
    QTest::addColumn<QString>("output");
    QTest::newRow("-") << "-";
    QTest::newRow("/dev/stdout") << "/dev/stdout";
}

void TestCliDownload::toStandardOutput()
{
    QFETCH(QString, output);
    SandboxedMeter line(QStringLiteral("COM1"));
    QVERIFY(line.meter.isValid());
    line.meter.setReply("#d;", "@k1*60;" + dataSets(0, 2));
    CliTool tool;
    QVERIFY(tool.run({"download", "-o", output, "--start", "07:00:00"}));
    QCOMPARE(tool.exitCode(), 0);
    QCOMPARE(tool.out, CsvHeader + PrintfFormat::csvLine(1, QTime(7, 1), 0, 500) +
                           PrintfFormat::csvLine(2, QTime(7, 2), -37, 489));
}

void TestCliDownload::incomplete_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("partial");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("expected"); // the file afterwards

    const QByteArray old("an older file, left as it was\r\n");
    const QByteArray three = "@k9*60;" + dataSets(0, 3);
    QByteArray threeRows = CsvHeader;
    for (int i = 0; i < 3; ++i)
        threeRows += PrintfFormat::csvLine(i + 1, QTime(7, 0).addSecs(60 * (i + 1)), -(i * 37),
                                           500 - i * 11);

    QTest::newRow("3 of 10, then silence")
        << three << false
        << "Download unvollstaendig (3 von 10 Datensaetzen): 5 s lang kam kein "
           "Datensatz."
        << old;
    QTest::newRow("3 of 10, --partial")
        << three << true << "Unvollstaendig gespeichert:" << threeRows;
    QTest::newRow("no answer at all")
        << QByteArray() << false
        << "Download unvollstaendig (0 Datensaetze, Anzahl unbekannt): 5 s lang kam kein Datensatz."
        << old;
    QTest::newRow("live readings do not keep it going")
        << "@k9*60;" + dataSets(0, 2) + "@a-20;@b-15;" << false << "(2 von 10 Datensaetzen)" << old;
}

// No data set for 5 s: exit 3 and a message; the file is not touched unless
// --partial asks for the data sets that came.
void TestCliDownload::incomplete()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, partial);
    QFETCH(QString, message);
    QFETCH(QByteArray, expected);

    SandboxedMeter line(QStringLiteral("COM3"));
    PtyMeter &meter = line.meter;
    QVERIFY(meter.isValid());
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("out.csv"));
    QVERIFY(writeFile(file, "an older file, left as it was\r\n"));
    if (!reply.isEmpty())
        meter.setReply("#d;", reply);
    // The live readings go on while the download has stopped.
    QTimer live;
    connect(&live, &QTimer::timeout, &meter, [&] {
        if (meter.received().contains("#d;") && reply.contains("@a"))
            meter.send("@a-20.5;");
    });
    live.start(200);

    CliTool tool;
    QStringList arguments{"download", "-o", file, "--start", "07:00:00"};
    if (partial)
        arguments << "--partial";
    QVERIFY(tool.run(arguments));
    QCOMPARE(tool.exitCode(), 3);
    QVERIFY2(QString::fromLocal8Bit(tool.err).contains(message), tool.err.constData());
    QCOMPARE(contents(file), expected);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"out.csv"});
    QVERIFY(meter.waitForReceived("#c;"));
    // The meter was found on COM3 after 0.2 + 2 * 0.1 + 1 s, then 5 s passed.
    QVERIFY(tool.elapsedMs() >= 1400 + 5000);
}

void TestCliDownload::meterGoneDuringDownload()
{
    SandboxedMeter line(QStringLiteral("COM1"));
    PtyMeter &meter = line.meter;
    QVERIFY(meter.isValid());
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("out.csv"));
    meter.setReply("#d;", "@k99*60;" + dataSets(0, 10));
    connect(&meter, &PtyMeter::commandSeen, this, [&](const QByteArray &command) {
        if (command == "#d;")
            QTimer::singleShot(300, &meter, [&] { meter.vanish(); });
    });

    CliTool tool;
    QVERIFY(tool.run({"download", "-o", file}));
    QCOMPARE(tool.exitCode(), 3);
    QVERIFY2(tool.err.contains("(10 von 100 Datensaetzen): Verbindung zum Messgeraet an COM1 "
                               "verloren."),
             tool.err.constData());
    QVERIFY(!QFileInfo::exists(file));
}

// Ctrl-C in the middle of a download: the meter is told "#c;", what came is
// kept with --partial, and the download counts as incomplete.
void TestCliDownload::stopSignalDuringDownload()
{
    SandboxedMeter line(QStringLiteral("COM1"));
    PtyMeter &meter = line.meter;
    QVERIFY(meter.isValid());
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("out.csv"));
    meter.setReply("#d;", "@k99*60;" + dataSets(0, 20));

    CliTool tool;
    QVERIFY(tool.start({"download", "-o", file, "--partial"}));
    QVERIFY(meter.waitForReceived("#d;", 30000));
    QVERIFY(tool.waitForError("Lese Datensaetze: 20 von 100"));
    tool.signal(SIGINT);
    QVERIFY(tool.waitForExit(30000));
    QCOMPARE(tool.exitCode(), 3);
    QVERIFY2(tool.err.contains("(20 von 100 Datensaetzen): Abgebrochen."), tool.err.constData());
    QCOMPARE(contents(file).count("\r\n"), 21);
    QVERIFY(meter.received().endsWith("#d;#c;"));
}

// Not on a terminal: one plain line at every tenth, to standard error;
// standard output stays empty.
void TestCliDownload::progressLines()
{
    SandboxedMeter line(QStringLiteral("COM1"));
    PtyMeter &meter = line.meter;
    QVERIFY(meter.isValid());
    QTemporaryDir dir;
    meter.setReply("#d;", "@k49*1;" + dataSets(0, 50));

    CliTool tool;
    QVERIFY(tool.run({"download", "-o", dir.filePath(QStringLiteral("p.csv"))}));
    QCOMPARE(tool.exitCode(), 0);
    QVERIFY(tool.out.isEmpty());
    static const QRegularExpression progress(
        QStringLiteral("tavrold-cli: Lese Datensaetze: (\\d+) von 50 \\((\\d+) %\\)"));
    QList<int> percents;
    for (const QRegularExpressionMatch &m :
         progress.globalMatch(QString::fromLocal8Bit(tool.err))) {
        QVERIFY(m.captured(1).toInt() * 100 / 50 >= m.captured(2).toInt());
        percents << m.captured(2).toInt();
    }
    QCOMPARE(percents, QList<int>({10, 20, 30, 40, 50, 60, 70, 80, 90}));
    QVERIFY(tool.err.contains("tavrold-cli: Aufzeichnung gelesen: 50 Datensaetze, Zwischenzeit"));

    CliTool quiet;
    QVERIFY(quiet.run({"download", "-q", "-o", dir.filePath(QStringLiteral("q.csv"))}));
    QCOMPARE(quiet.exitCode(), 0);
    QVERIFY(quiet.err.isEmpty());
}

QTEST_MAIN(TestCliDownload)
#include "tst_cli_download.moc"
