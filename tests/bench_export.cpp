// How long the CSV export of a full store (16000 data sets) takes without
// the dialog: the file's bytes made in memory and written once through
// QSaveFile, against the obvious way of a QTextStream on a QFile fed one
// printf-formatted line at a time. Run from the build folder:
//   tests/bench_export
// Goal: under 50 ms for the whole export (checked only in builds without
// sanitizers).

#include "benchmark.h"
#include "recordformat.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <algorithm>

namespace {

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
            QVERIFY(Records::writeFile(
                fileName, Records::csvFile(Start, Interval, rms, pep, Rows)));
        } else {
            QVERIFY(writeLineByLine(fileName));
        }
        const qint64 ns = clock.nsecsElapsed();
        bestNs[way] = bestNs[way] < 0 ? ns : std::min(bestNs[way], ns);
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
    qInfo("16000 rows: bytes %.2f ms, export (bytes and atomic write) %.2f ms, "
          "text stream line by line %.2f ms, ratio %.1f",
          bestNs[0] / 1e6, exportMs, obviousMs, obviousMs / exportMs);
#if TAVROLD_TIMING_CHECKS
    QVERIFY2(exportMs < 50.0, "the export of a full store takes 50 ms or more");
#endif
}

QTEST_GUILESS_MAIN(BenchExport)
#include "bench_export.moc"
