#include "livedisplay.h"
#include "measurement.h"
#include "meterconnection.h"
#include "meterline.h"
#include "meterstream.h"
#include "protocol.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTest>

using Access = MainWindowTestAccess;

namespace {

// A meter's stream as it comes down the line: RMS and PEP readings in turn,
// a status message every tenth message, line ends between messages.
QByteArray meterStream(int size)
{
    QRandomGenerator rng(1);
    QByteArray bytes;
    bytes.reserve(size + 64);
    double level = -30.0;
    for (int n = 0; bytes.size() < size; ++n) {
        level += (rng.bounded(21) - 10) / 10.0;
        if (n % 10 == 9)
            bytes += QString::asprintf("@s0*17*%.1f*10.0*1;\r\n", level + 40.0).toLatin1();
        else
            bytes += QString::asprintf("@%c%.1f;\r\n", n % 2 ? 'b' : 'a', level).toLatin1();
    }
    bytes.truncate(size);
    return bytes;
}

// The obvious way, for comparison: the same stream, but every reading and
// every status writes its labels the moment it ends.
class EveryMessageDecoder : public MeterStream::Receiver
{
public:
    explicit EveryMessageDecoder(MainWindow &window)
    {
        for (const char *name :
             {"labelNdbmrms", "labelNvoltrms", "labelNwattrms", "labelNdbmpep", "labelNvoltpep",
              "labelNwattpep", "labelmknr", "labeldbm", "labelattdb", "labeladxx", "labelzsatz"})
            labels.append(window.findChild<QLabel *>(name));
        rmsBox = window.findChild<QGroupBox *>("groupBoxrms");
        pepBox = window.findChild<QGroupBox *>("groupBoxpep");
    }

    void decode(const char *bytes, int count) { stream.feed(bytes, count, *this); }

private:
    void reading(const MeterStream::Reading &r) override
    {
        const auto texts = LiveDisplay::levelTexts(r.level, r.audioHead);
        const int first = r.kind == Protocol::Rms ? 0 : 3;
        labels[first]->setText(texts.level);
        labels[first + 1]->setText(texts.voltage);
        labels[first + 2]->setText(texts.power);
    }
    void status(const MeterStream::Status &s) override
    {
        labels[6]->setText(QString::asprintf("%2i", s.serialNumber));
        labels[7]->setText(LiveDisplay::maxLevelText(s.maxLevelDbm));
        labels[8]->setText(LiveDisplay::attenuatorText(s.attenuatorDb));
        labels[9]->setText(LiveDisplay::headName(s.headType));
        if (s.recording)
            labels[10]->setText(LiveDisplay::recordingText(*s.recording));
        const bool audio = LiveDisplay::isAudioHead(s.headType);
        rmsBox->setTitle(LiveDisplay::levelTitle(Protocol::Rms, audio));
        pepBox->setTitle(LiveDisplay::levelTitle(Protocol::Pep, audio));
    }

    MeterStream stream;
    QList<QLabel *> labels;
    QGroupBox *rmsBox = nullptr;
    QGroupBox *pepBox = nullptr;
};

} // namespace

// How many stream bytes a second the decoder takes with the labels live.
// The line brings 873 bytes a second (9600 baud, 8N2).
class BenchDecoder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void decode_data();
    void decode();

private:
    std::unique_ptr<MeterLine> line;
};

void BenchDecoder::initTestCase()
{
    line.reset(new MeterLine);
    QVERIFY2(line->connect(), "the program did not find the meter on COM1");
    QVERIFY(QTest::qWaitForWindowExposed(&line->win()));
}

void BenchDecoder::cleanupTestCase()
{
    line.reset();
}

void BenchDecoder::decode_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QString>("path");

    const int size = 1000 * 1000;
    const QByteArray stream = meterStream(size);
    // The decoder alone: every run finds 999 bytes in the receive ring.
    QTest::newRow("meter stream, labels live") << stream << "ring";
    // The same, every reading through offset, head table, average and
    // reference, and RMS against two limits.
    QTest::newRow("meter stream, all corrections and limits on") << stream << "corrected";
    // The same stream, labels written at every message.
    QTest::newRow("meter stream, labels written at every message") << stream << "every message";
    // The state machine alone: bytes outside any message.
    QTest::newRow("line noise outside messages") << QByteArray(size, '.') << "ring";
    // The whole way: the meter's end of the pseudo-terminal, the channel's
    // read, the decoder.
    QTest::newRow("meter stream through the line") << stream << "line";
}

void BenchDecoder::decode()
{
    QFETCH(QByteArray, stream);
    QFETCH(QString, path);

    MainWindow &w = line->win();
    const bool viaLine = path == "line";
    const bool everyMessage = path == "every message";
    EveryMessageDecoder obvious(w);
    MeasurementSettings corrections;
    if (path == "corrected") {
        corrections.offsetDb = 40.0;
        corrections.frequencyMhz = 145.0;
        QByteArray table;
        for (int i = 0; i < 100; ++i)
            table += QByteArray::number(10 * i + 1) + ';' + QByteArray::number(i % 7 / 10.0) + '\n';
        corrections.tables[0] = *CorrectionTable::parse(table, nullptr);
        corrections.average = 10;
        corrections.relative = true;
    }
    LimitSettings limits;
    if (path == "corrected") {
        limits.low = -1.0;
        limits.high = 1.0;
    }
    Access::connection(w).setMeasurement(corrections);
    Access::connection(w).setLimits(limits);
    Access::setPortOpen(w, viaLine);
    const int chunk = MeterLine::MaxRead;

    qint64 bytes = 0;
    QElapsedTimer clock;
    clock.start();
    QBENCHMARK
    {
        for (qsizetype done = 0; done < stream.size(); done += chunk) {
            const int count = int(qMin<qsizetype>(chunk, stream.size() - done));
            if (viaLine) {
                line->feed(stream.mid(done, count));
            } else if (everyMessage) {
                obvious.decode(stream.constData() + done, count);
            } else {
                Access::putInRing(w, stream.constData() + done, count);
                Access::poll(w);
            }
        }
        bytes += stream.size();
    }
    const qint64 ns = clock.nsecsElapsed();
    Access::setPortOpen(w, true);

    QVERIFY(line->text("labelNdbmrms").endsWith(path == "corrected" ? " dBr" : " dBm"));
    qInfo("%s: %.1f MB/s (%.0f times the line's 873 bytes/s); %lld readings a pass",
          QTest::currentDataTag(), bytes * 1e3 / ns, bytes * 1e9 / ns / 873.0,
          qint64(stream.count("@a") + stream.count("@b")));
    Access::connection(w).setMeasurement(MeasurementSettings());
    Access::connection(w).setLimits(LimitSettings());
}

QTEST_MAIN(BenchDecoder)
#include "bench_decoder.moc"
