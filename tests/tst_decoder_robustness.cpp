#include "displaytexts.h"
#include "meterline.h"
#include "protocol.h"
#include "streammodel.h"

#include <QHash>
#include <QRandomGenerator>
#include <QTest>

using Access = MainWindowTestAccess;

namespace {

QByteArray randomBytes(QRandomGenerator &rng, int size)
{
    QByteArray bytes(size, '\0');
    for (char &c : bytes)
        c = char(rng.bounded(256));
    return bytes;
}

// Mostly the protocol's own characters, so that messages of every type,
// nested '@', empty bodies and odd numbers turn up often.
QByteArray protocolNoise(QRandomGenerator &rng, int size)
{
    static const QByteArray alphabet = "@@;;**abdks--+..0123456789  eEinfNA\r\n";
    QByteArray bytes;
    bytes.reserve(size);
    while (bytes.size() < size) {
        if (rng.bounded(20) == 0)
            bytes += char(rng.bounded(256));
        else
            bytes += alphabet.at(rng.bounded(int(alphabet.size())));
    }
    return bytes;
}

// What a meter sends: readings, status now and then, a download with data
// sets, line ends between messages.
QByteArray meterStream(QRandomGenerator &rng, int size, int maxLastIndex)
{
    QByteArray bytes;
    while (bytes.size() < size) {
        const int kind = rng.bounded(100);
        const double level = rng.bounded(1000) / 10.0 - 80.0;
        if (kind < 35)
            bytes += QString::asprintf("@a%.1f;\r\n", level).toLatin1();
        else if (kind < 70)
            bytes += QString::asprintf("@b%.1f;\r\n", level + 3.0).toLatin1();
        else if (kind < 80)
            bytes +=
                QString::asprintf("@s%d*%d*%.1f*%.1f*%d;\r\n", rng.bounded(-1, 8), rng.bounded(100),
                                  level, rng.bounded(400) / 10.0, rng.bounded(-1, 3))
                    .toLatin1();
        else if (kind < 82)
            bytes += QString::asprintf("@k%d*%d;\r\n", rng.bounded(maxLastIndex + 1),
                                       rng.bounded(1, 3600))
                         .toLatin1();
        else
            bytes += QString::asprintf("@d%.1f*%.1f;\r\n", level * 100.0, level * 100.0 + 300.0)
                         .toLatin1();
    }
    return bytes;
}

// Line faults: bytes changed, lost, added, or whole stretches repeated.
QByteArray mutated(QRandomGenerator &rng, const QByteArray &clean, int perMille)
{
    QByteArray bytes;
    bytes.reserve(clean.size() + clean.size() / 10);
    for (qsizetype i = 0; i < clean.size(); ++i) {
        if (rng.bounded(1000) >= perMille) {
            bytes += clean.at(i);
            continue;
        }
        switch (rng.bounded(4)) {
        case 0:
            bytes += char(rng.bounded(256));
            break;
        case 1:
            break;
        case 2:
            bytes += clean.at(i);
            bytes += char(rng.bounded(256));
            break;
        default:
            bytes += clean.mid(qMax<qsizetype>(0, i - rng.bounded(40)), rng.bounded(60));
            break;
        }
    }
    return bytes;
}

} // namespace

// Long random and damaged streams, fed in random pieces through the line:
// nothing crashes, every label holds a well-formed text that agrees with the
// stream, and what the decoder keeps stays small.
class TestDecoderRobustness : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void streams_data();
    void streams();

private:
    std::unique_ptr<MeterLine> line;
};

void TestDecoderRobustness::initTestCase()
{
    line.reset(new MeterLine);
    QVERIFY2(line->connect(), "the program did not find the meter on COM1");
}

void TestDecoderRobustness::cleanupTestCase()
{
    line.reset();
}

void TestDecoderRobustness::streams_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("size");

    const quint32 seeds[] = {1, 4711, 20250607};
    for (const char *kind :
         {"random bytes", "protocol noise", "meter stream, damaged", "long messages"}) {
        for (const quint32 seed : seeds)
            QTest::addRow("%s, seed %u", kind, seed) << QString::fromLatin1(kind) << seed << 250000;
    }
    // A download longer than the store, damaged here and there.
    QTest::addRow("download beyond the store, seed 99")
        << QStringLiteral("download") << quint32(99) << 0;
}

void TestDecoderRobustness::streams()
{
    QFETCH(QString, kind);
    QFETCH(quint32, seed);
    QFETCH(int, size);
    qInfo("seed %u", seed);
    QRandomGenerator rng(seed);

    QByteArray stream;
    if (kind == "random bytes") {
        stream = randomBytes(rng, size);
    } else if (kind == "protocol noise") {
        stream = protocolNoise(rng, size);
    } else if (kind == "meter stream, damaged") {
        stream = mutated(rng, meterStream(rng, size, 40), 20);
    } else if (kind == "long messages") {
        while (stream.size() < size) {
            stream += '@';
            stream += protocolNoise(rng, rng.bounded(2000)).replace(';', ' ');
            stream += ';';
        }
    } else {
        stream = "@k20000*1;";
        for (int i = 0; i < MainWindow::RecordCapacity + 500; ++i) {
            stream += QString::asprintf("@d%d*%d;", -i, i).toLatin1();
            if (i % 50 == 0)
                stream += "@a-23.4;@s0*1*0*0*1;\r\n";
        }
        stream = mutated(rng, stream, 1);
    }

    // Known start: no message open, RMS type in force, empty store.
    QVERIFY(line->feed(";@s0*0*0*0*0;@a0;"));
    Access::requestDownload(line->win());
    QHash<QString, QString> shown;
    for (const QString &name : DisplayTexts::liveNames())
        shown[name] = line->text(name);
    StreamModel model(shown);
    model.type = Protocol::RmsLevel;

    qsizetype done = 0;
    int pieces = 0;
    while (done < stream.size()) {
        // Mostly small pieces, some the size of a full read and beyond.
        const int want = rng.bounded(2) ? rng.bounded(1, 20) : rng.bounded(1, 1500);
        const QByteArray piece = stream.mid(done, want);
        done += piece.size();
        ++pieces;
        QVERIFY(line->feed(piece));
        model.feed(piece);

        MainWindow &w = line->win();
        for (const QString &name : DisplayTexts::liveNames()) {
            const QString text = line->text(name);
            if (!DisplayTexts::isWellFormed(name, text))
                QFAIL(qPrintable(
                    QStringLiteral("%1 holds \"%2\" after %3 bytes").arg(name, text).arg(done)));
            if (text != model.text(name))
                QFAIL(qPrintable(QStringLiteral("%1 holds \"%2\", the stream says \"%3\" "
                                                "after %4 bytes")
                                     .arg(name, text, model.text(name))
                                     .arg(done)));
        }
        QVERIFY(Access::messageText(w).size() <= Protocol::MaxValueTextLength + 1);
        QCOMPARE(Access::inMessage(w), model.inMessage);
        QCOMPARE(Access::rxTail(w), Access::rxHead(w));
        QVERIFY(Access::rxHead(w) >= 0 && Access::rxHead(w) < MainWindow::RxRingSize);
        QCOMPARE(Access::recordCount(w), model.count);
    }

    // Every data set went to its own place, none beyond the store.
    const int stored = qMin(model.count, int(MainWindow::RecordCapacity));
    for (int i = 0; i < MainWindow::RecordCapacity; ++i) {
        const int rms = i < stored ? model.rms.at(i) : 0;
        const int pep = i < stored ? model.pep.at(i) : 0;
        if (Access::rmsValues(line->win())[i] != rms || Access::pepValues(line->win())[i] != pep)
            QFAIL(qPrintable(QStringLiteral("data set %1 holds %2/%3, expected %4/%5")
                                 .arg(i)
                                 .arg(Access::rmsValues(line->win())[i])
                                 .arg(Access::pepValues(line->win())[i])
                                 .arg(rms)
                                 .arg(pep)));
    }
    qInfo("%lld bytes in %d pieces, %d data sets", qlonglong(stream.size()), pieces, model.count);
}

QTEST_MAIN(TestDecoderRobustness)
#include "tst_decoder_robustness.moc"
