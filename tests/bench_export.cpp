// How long the CSV export of a full store (16000 data sets) takes without
// the dialog: the file's bytes made in memory and written once through
// QSaveFile, against the obvious way of a QTextStream on a QFile fed one
// printf-formatted line at a time. Run from the build folder:
//   tests/bench_export
// Checked: the export writes the file's bytes once, in a few writes to the
// system, and (in builds without sanitizers) is at least as fast as the
// obvious way, measured in the same run (some fifteen times faster here).

#include "benchmark.h"
#include "recordformat.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <algorithm>

namespace {

// Bytes this process has handed to the system to write, and in how many
// calls.
struct Written
{
    qint64 bytes = -1;
    qint64 calls = -1;

    static Written now()
    {
        Written w;
        QFile io(QStringLiteral("/proc/self/io"));
        if (!io.open(QIODevice::ReadOnly))
            return w;
        for (const QByteArray &line : io.readAll().split('\n')) {
            if (line.startsWith("wchar:"))
                w.bytes = line.mid(6).trimmed().toLongLong();
            else if (line.startsWith("syscw:"))
                w.calls = line.mid(6).trimmed().toLongLong();
        }
        return w;
    }
};

constexpr int Rows = 16000;
int rms[Rows];
int pep[Rows];
const QTime Start(7, 30);
constexpr int Interval = 15;

// The obvious way: a text stream on the file, one formatted line at a time.
bool writeLineByLine(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QTextStream out(&file);
    out << "Datensatz;Zeit;RMS;PEP"
        << "\r\n";
    QTime t = Start;
    for (int i = 0; i < Rows; ++i) {
        t = t.addSecs(Interval);
        out << QString::asprintf("%5i;%s;%4.2f;%4.2f", i + 1,
                                 qPrintable(t.toString(QStringLiteral("HH:mm:ss"))), rms[i] / 100.0,
                                 pep[i] / 100.0)
            << "\r\n";
    }
    out.flush();
    return out.status() == QTextStream::Ok;
}

} // namespace

class BenchExport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void exportFile_data();
    void exportFile();

private:
    QTemporaryDir dir;
    qint64 bestNs[3] = {-1, -1, -1};
    qint64 writeCalls[3] = {-1, -1, -1};
};

void BenchExport::initTestCase()
{
    QVERIFY(dir.isValid());
    for (int i = 0; i < Rows; ++i) {
        rms[i] = Benchmark::rmsLevel(i);
        pep[i] = Benchmark::pepLevel(i);
    }
}

void BenchExport::exportFile_data()
{
    QTest::addColumn<int>("way");
    QTest::newRow("bytes in memory") << 0;
    QTest::newRow("bytes and atomic write (the export)") << 1;
    QTest::newRow("text stream, line by line") << 2;
}

void BenchExport::exportFile()
{
    QFETCH(int, way);
    const QString fileName = dir.filePath(QStringLiteral("bench%1.csv").arg(way));
    QElapsedTimer clock;
    QBENCHMARK
    {
        clock.start();
        if (way == 0) {
            const QByteArray bytes = Records::csvFile(Start, Interval, rms, pep, Rows);
            QVERIFY(bytes.size() > 0);
        } else if (way == 1) {
            QVERIFY(
                Records::writeFile(fileName, Records::csvFile(Start, Interval, rms, pep, Rows)));
        } else {
            QVERIFY(writeLineByLine(fileName));
        }
        const qint64 ns = clock.nsecsElapsed();
        bestNs[way] = bestNs[way] < 0 ? ns : std::min(bestNs[way], ns);
    }

    // Once more, counting the writes to the system.
    if (way == 0)
        return;
    const Written before = Written::now();
    QVERIFY(way == 1
                ? Records::writeFile(fileName, Records::csvFile(Start, Interval, rms, pep, Rows))
                : writeLineByLine(fileName));
    const Written after = Written::now();
    if (before.calls < 0 || after.calls < 0)
        QSKIP("no /proc/self/io here to count the writes");
    writeCalls[way] = after.calls - before.calls;
    if (way == 1) {
        // The file's bytes go out once, in one piece or a few.
        QCOMPARE(after.bytes - before.bytes, QFileInfo(fileName).size());
        QVERIFY2(writeCalls[way] <= 4,
                 qPrintable(QStringLiteral("%1 writes for one file").arg(writeCalls[way])));
    }
}

void BenchExport::cleanupTestCase()
{
    if (bestNs[1] <= 0 || bestNs[2] <= 0)
        return;
    QFile ours(dir.filePath(QStringLiteral("bench1.csv")));
    QFile obvious(dir.filePath(QStringLiteral("bench2.csv")));
    QVERIFY(ours.open(QIODevice::ReadOnly) && obvious.open(QIODevice::ReadOnly));
    QCOMPARE(ours.readAll(), obvious.readAll());
    const double exportMs = bestNs[1] / 1e6;
    const double obviousMs = bestNs[2] / 1e6;
    qInfo("16000 rows: bytes %.2f ms, export (bytes and atomic write) %.2f ms in %lld writes, "
          "text stream line by line %.2f ms in %lld writes, ratio %.1f",
          bestNs[0] / 1e6, exportMs, writeCalls[1], obviousMs, writeCalls[2], obviousMs / exportMs);
#if TAVROLD_TIMING_CHECKS
    QVERIFY2(exportMs <= obviousMs, "the export is slower than a text stream line by line");
#endif
}

QTEST_GUILESS_MAIN(BenchExport)
#include "bench_export.moc"
