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

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimeEdit>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

#ifdef TAVROLD_SIM_PATH
const char simulatorPath[] = TAVROLD_SIM_PATH;
#else
const char simulatorPath[] = "";
#endif

using Recording = QList<QPair<int, int>>; // RMS, PEP in hundredths of a dBm

// One run of the simulator, with its ports folder under `dataHome`.
class Simulator
{
public:
    ~Simulator()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(5000))
                process.kill();
            process.waitForFinished(2000);
        }
    }

    // Starts the simulator; true once it reports that it is listening.
    bool start(const QString &dataHome, const QStringList &arguments)
    {
        home = dataHome;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
        process.setProcessEnvironment(environment);
        process.start(QString::fromLocal8Bit(simulatorPath), arguments);
        if (!process.waitForStarted(5000))
            return false;
        return QTest::qWaitFor(
                   [&] {
                       return output().contains(QLatin1String("listening")) ||
                              process.state() != QProcess::Running;
                   },
                   10000) &&
               output().contains(QLatin1String("listening"));
    }

    QString linkTarget(const QString &comName) const
    {
        return QFile::symLinkTarget(home + QStringLiteral("/VRZ/tavrold/ports/") + comName);
    }

    QString output()
    {
        text += QString::fromLocal8Bit(process.readAllStandardOutput());
        return text;
    }

    QString errors() { return QString::fromLocal8Bit(process.readAllStandardError()); }

private:
    QProcess process;
    QString home;
    QString text;
};

// What the meter sends for "#d;": its recording, read from a simulator of our
// own (no streaming asked for, so the download comes alone).
Recording recordingOf(const QStringList &arguments, int count, QString *error)
{
    QTemporaryDir dir;
    Simulator sim;
    if (!sim.start(dir.path() + QStringLiteral("/data"), arguments)) {
        *error = QStringLiteral("reference simulator did not start: ") + sim.errors();
        return {};
    }
    const QString device = sim.linkTarget(QStringLiteral("COM1"));
    if (!device.startsWith(QLatin1String("/dev/pts/"))) { // never a real serial port
        *error = QStringLiteral("unexpected device ") + device;
        return {};
    }
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        *error = QStringLiteral("cannot open ") + device;
        return {};
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    QByteArray stream;
    const bool sent = ::write(fd, "#d;", 3) == 3;
    const auto complete = [&] { return stream.count("@d") >= count && stream.endsWith(';'); };
    if (sent) {
        QTest::qWaitFor(
            [&] {
                char buffer[65536];
                ssize_t n;
                while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
                    stream.append(buffer, n);
                return complete();
            },
            120000);
    }
    ::close(fd);

    Recording recording;
    static const QRegularExpression dataSet(QStringLiteral("@d(-?\\d+)\\*(-?\\d+);"));
    for (const QRegularExpressionMatch &m : dataSet.globalMatch(QString::fromLatin1(stream)))
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
        rows << QString::asprintf("%05i \t", i + 1) + t.toString(QStringLiteral("HH:mm:ss")) +
                    QLatin1Char('\t') +
                    QString::asprintf("%04.2f\t%04.2f\t dBm ", recording.at(i).first / 100.0,
                                      recording.at(i).second / 100.0);
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
    if (!QFileInfo(QString::fromLocal8Bit(simulatorPath)).isExecutable())
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
    Simulator meter;
    QVERIFY2(meter.start(sandbox.root() + QStringLiteral("/data"), arguments),
             qPrintable(meter.errors()));

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
