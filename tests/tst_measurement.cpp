// The corrections of live readings: offset and head tables, the average on
// power with its step detection, the relative reference, the table files
// and the kept settings.

#include "livelog.h"
#include "measurement.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>

Q_DECLARE_METATYPE(MeasurementSettings)

namespace {

CorrectionTable table(const QByteArray &text)
{
    QString error;
    const std::optional<CorrectionTable> parsed = CorrectionTable::parse(text, &error);
    if (!parsed)
        qFatal("table refused: %s", qPrintable(error));
    return *parsed;
}

MeasurementSettings settings(double offset, int average, bool step = true)
{
    MeasurementSettings s;
    s.offsetDb = offset;
    s.average = average;
    s.stepDetection = step;
    return s;
}

// The dB of the mean of powers.
double powerMean(std::initializer_list<double> levels)
{
    double sum = 0.0;
    for (double level : levels)
        sum += std::pow(10.0, level / 10.0);
    return 10.0 * std::log10(sum / double(levels.size()));
}

const double NaN = std::numeric_limits<double>::quiet_NaN();

} // namespace

class TestMeasurement : public QObject
{
    Q_OBJECT

private slots:
    void readings_data();
    void readings();
    void noDrift();
    void summary_data();
    void summary();
    void tableFile_data();
    void tableFile();
    void kept();
    void log_data();
    void log();
};

void TestMeasurement::readings_data()
{
    QTest::addColumn<MeasurementSettings>("set");
    // "-20": an RMS reading, "pep -20", "head 3": a status with head 3,
    // "restart": the meter lost, "reference": "Referenz setzen".
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<double>("absolute");
    QTest::addColumn<double>("level"); // NaN: the same as absolute, not relative

    MeasurementSettings tabled = settings(40.0, 1);
    tabled.frequencyMhz = 150.0;
    tabled.tables[2] = table("100;0.5\n200;1.5\n300;1.0\n");
    QTest::newRow("nothing set") << MeasurementSettings() << QStringList{"-0"} << -0.0 << NaN;
    QTest::newRow("offset") << settings(40.0, 1) << QStringList{"-20"} << 20.0 << NaN;
    QTest::newRow("table between points") << tabled << QStringList{"head 2", "-20"} << 21.0 << NaN;
    MeasurementSettings below = tabled, above = tabled, second = tabled;
    below.frequencyMhz = 50.0;
    above.frequencyMhz = 1000.0;
    second.frequencyMhz = 250.0;
    QTest::newRow("below the table") << below << QStringList{"head 2", "-20"} << 20.5 << NaN;
    QTest::newRow("above the table") << above << QStringList{"head 2", "-20"} << 21.0 << NaN;
    QTest::newRow("second segment") << second << QStringList{"head 2", "-20"} << 21.25 << NaN;
    QTest::newRow("another head's table") << tabled << QStringList{"head 0", "-20"} << 20.0 << NaN;

    QTest::newRow("average on power")
        << settings(0.0, 10) << QStringList{"-10", "-12.5"} << powerMean({-10, -12.5}) << NaN;
    QTest::newRow("-10 and -20, step detection off")
        << settings(0.0, 2, false) << QStringList{"-10", "-20"} << -12.596 << NaN;
    QTest::newRow("the oldest leaves the ring")
        << settings(0.0, 2, false) << QStringList{"-30", "-10", "-20"} << -12.596 << NaN;
    QTest::newRow("kinds apart") << settings(0.0, 10) << QStringList{"-10", "pep -20", "-11"}
                                 << powerMean({-10, -11}) << NaN;
    QTest::newRow("step up") << settings(0.0, 10) << QStringList{"-20", "-20", "-20", "-16.9"}
                             << -16.9 << NaN;
    QTest::newRow("step down") << settings(0.0, 10) << QStringList{"-20", "-20", "-23.1"} << -23.1
                               << NaN;
    QTest::newRow("within the step") << settings(0.0, 10) << QStringList{"-20", "-20", "-22.9"}
                                     << powerMean({-20, -20, -22.9}) << NaN;
    QTest::newRow("no step detection")
        << settings(0.0, 10, false) << QStringList{"-20", "-20", "-20", "-10"}
        << powerMean({-20, -20, -20, -10}) << NaN;
    QTest::newRow("head change") << settings(0.0, 10, false)
                                 << QStringList{"head 2", "-10", "head 3", "-20"} << -20.0 << NaN;
    QTest::newRow("meter lost") << settings(0.0, 10, false) << QStringList{"-10", "restart", "-20"}
                                << -20.0 << NaN;
    QTest::newRow("unreadable levels stay out")
        << settings(0.0, 10, false) << QStringList{"-20", "1e300", "nan", "-10"}
        << powerMean({-20, -10}) << NaN;

    MeasurementSettings typed = settings(0.0, 1);
    typed.relative = true;
    typed.reference[Protocol::Rms] = -20.0;
    MeasurementSettings first = settings(0.0, 1);
    first.relative = true;
    QTest::newRow("typed reference") << typed << QStringList{"-23.5"} << -23.5 << -3.5;
    QTest::newRow("first result") << first << QStringList{"-20", "-23"} << -23.0 << -3.0;
    QTest::newRow("first result per kind")
        << first << QStringList{"-20", "pep -30", "-19"} << -19.0 << 1.0;
    QTest::newRow("reference set")
        << settings(3.0, 1) << QStringList{"-20", "reference", "-21"} << -18.0 << -1.0;
}

void TestMeasurement::readings()
{
    QFETCH(MeasurementSettings, set);
    QFETCH(QStringList, events);
    QFETCH(double, absolute);
    QFETCH(double, level);

    Measurement measurement;
    measurement.setSettings(set);
    int head = 0;
    Measurement::Result result;
    double raw = NaN;
    for (const QString &event : events) {
        const QStringList words = event.split(QLatin1Char(' '));
        if (words.first() == QLatin1String("head"))
            head = words.at(1).toInt();
        else if (event == QLatin1String("restart"))
            measurement.restart();
        else if (event == QLatin1String("reference"))
            QVERIFY(measurement.setReferenceFromLast());
        else
            result = measurement.take(words.size() > 1 ? Protocol::Pep : Protocol::Rms,
                                      raw = words.last().toDouble(), head);
    }
    QVERIFY2(std::abs(result.absolute - absolute) < 1e-3,
             qPrintable(QString::number(result.absolute)));
    QCOMPARE(std::signbit(result.absolute), std::signbit(absolute));
    QCOMPARE(result.relative, !std::isnan(level));
    const double shown = std::isnan(level) ? absolute : level;
    QVERIFY2(std::abs(result.level - shown) < 1e-3, qPrintable(QString::number(result.level)));
    QCOMPARE(result.raw, raw);
}

// Millions of readings over a wide range leave no trace in the running sum:
// the last readings average as they do after a short run that ends alike.
void TestMeasurement::noDrift()
{
    const auto run = [](int readings) {
        Measurement measurement;
        measurement.setSettings(settings(0.0, 7, false));
        for (int left = readings; left > 0; --left) // -60 to +30 dBm, scattered
            measurement.take(Protocol::Rms, std::fmod(left * 0.6180339887, 1.0) * 90.0 - 60.0, 0);
        for (int i = 0; i < 5; ++i)
            measurement.take(Protocol::Rms, -50.0, 0);
        return measurement.take(Protocol::Rms, -50.0, 0).absolute;
    };
    // 2000000 and 23 readings leave the ring at one place.
    const double longRun = run(2000000);
    QVERIFY2(std::abs(longRun - run(23)) < 1e-12, qPrintable(QString::number(longRun, 'g', 17)));
}

void TestMeasurement::summary_data()
{
    QTest::addColumn<MeasurementSettings>("set");
    QTest::addColumn<int>("head");
    QTest::addColumn<QString>("text");

    MeasurementSettings all = settings(40.0, 10);
    all.frequencyMhz = 145.0;
    all.tables[2] = table("100;-0.2\n190;-0.4\n");
    all.relative = true;
    MeasurementSettings stepOff;
    stepOff.stepDetection = false;
    QTest::newRow("nothing") << MeasurementSettings() << 2 << QString();
    QTest::newRow("step detection alone") << stepOff << 2 << QString();
    QTest::newRow("everything") << all << 2
                                << "Korrektur: Offset +40.00 dB, AD8307 bei 145.000 MHz -0.30 dB, "
                                   "Mittel 10, relativ";
    QTest::newRow("no table for the head")
        << all << 0 << "Korrektur: Offset +40.00 dB, Mittel 10, relativ";
    QTest::newRow("negative offset") << settings(-3.5, 1) << 0 << "Korrektur: Offset -3.50 dB";
}

void TestMeasurement::summary()
{
    QFETCH(MeasurementSettings, set);
    QFETCH(int, head);
    QFETCH(QString, text);

    QCOMPARE(set.summary(head), text);
    QCOMPARE(set.isActive(head), !text.isEmpty());
}

void TestMeasurement::tableFile_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error"); // empty: read
    QTest::addColumn<int>("points");

    QByteArray full = "frequency;correction\n# sheet 4711\n";
    for (int i = 0; i < 1000; ++i)
        full += QByteArray::number(i) + ";0.1\n";
    QTest::newRow("semicolons") << QByteArray("100;0.5\n200;1.5\n") << QString() << 2;
    QTest::newRow("commas, header, comments, blanks")
        << QByteArray(
               "\xEF\xBB\xBF# Kopf 2\r\nMHz,dB\r\n\r\n100.5, -0.25\r\n  # mitten\r\n200,1\r\n")
        << QString() << 2;
    QTest::newRow("decimal comma") << QByteArray("145;-0,3\n435;-1,1") << QString() << 2;
    QTest::newRow("1000 points") << full << QString() << 1000;
    QTest::newRow("1001 points") << full + "2000;0\n"
                                 << "Zeile 1003: mehr als 1000 Punkte" << 0;
    QTest::newRow("not ascending")
        << QByteArray("f;c\n100;0\n200;0\n150;0\n") << "Zeile 4: Frequenz nicht aufsteigend" << 0;
    QTest::newRow("the same frequency twice")
        << QByteArray("100;0\n100;1\n") << "Zeile 2: Frequenz nicht aufsteigend" << 0;
    QTest::newRow("a second text line")
        << QByteArray("f;c\nMHz;dB\n100;0\n200;0\n") << "Zeile 2: keine zwei Zahlen" << 0;
    QTest::newRow("decimal comma beside commas")
        << QByteArray("100,0\n145,5,-0,3\n") << "Zeile 2: keine zwei Zahlen" << 0;
    QTest::newRow("three numbers")
        << QByteArray("100;0\n200;0;1\n") << "Zeile 2: keine zwei Zahlen" << 0;
    QTest::newRow("infinite") << QByteArray("100;0\ninf;0\n") << "Zeile 2: Zahl nicht endlich" << 0;
    QTest::newRow("not a number") << QByteArray("100;0\n200;nan\n") << "Zeile 2: Zahl nicht endlich"
                                  << 0;
    QTest::newRow("one point") << QByteArray("# x\n100;0\n") << "zu wenige Punkte (mindestens 2)"
                               << 0;
    QTest::newRow("empty") << QByteArray() << "zu wenige Punkte (mindestens 2)" << 0;
}

void TestMeasurement::tableFile()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    QFETCH(int, points);

    QString why;
    const std::optional<CorrectionTable> parsed = CorrectionTable::parse(text, &why);
    QCOMPARE(why, error);
    QCOMPARE(parsed.has_value(), error.isEmpty());
    if (!parsed)
        return;
    QCOMPARE(int(parsed->points().size()), points);
    // What is written reads back the same, as a file too.
    QCOMPARE(CorrectionTable::parse(parsed->toText(), nullptr), parsed);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kopf.csv"));
    QVERIFY(parsed->save(path, &why));
    QCOMPARE(CorrectionTable::load(path, &why), parsed);
}

// The settings come back from the file; a damaged file gives the defaults
// where it is damaged; a file beyond 1 MB is not read.
void TestMeasurement::kept()
{
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("tavrold.ini"));
    MeasurementSettings set = settings(-12.25, 20, false);
    set.frequencyMhz = 435.5;
    set.tables[5] = table("1;0.1\n2.5;-0.3333333333333333\n");
    set.relative = true;
    set.reference[Protocol::Pep] = -7.125;
    {
        QSettings file(ini, QSettings::IniFormat);
        file.setValue(QStringLiteral("messung/tabelle1"), QStringLiteral("old"));
        set.save(file);
    }
    QSettings file(ini, QSettings::IniFormat);
    const MeasurementSettings back = MeasurementSettings::load(file);
    QCOMPARE(back.offsetDb, set.offsetDb);
    QCOMPARE(back.frequencyMhz, set.frequencyMhz);
    QCOMPARE(back.tables, set.tables);
    QCOMPARE(back.average, set.average);
    QCOMPARE(back.stepDetection, set.stepDetection);
    QCOMPARE(back.relative, set.relative);
    QCOMPARE(back.reference, set.reference);
    QVERIFY(!file.contains(QStringLiteral("messung/tabelle1")));

    for (const char *key : {"offset", "frequenz", "mittel", "referenz_rms"})
        file.setValue(QStringLiteral("messung/") + QLatin1String(key), QStringLiteral("nan"));
    file.setValue(QStringLiteral("messung/mittel"), 100000);
    file.setValue(QStringLiteral("messung/tabelle5"), QStringList{"1;0", "0;0"});
    const MeasurementSettings damaged = MeasurementSettings::load(file);
    QCOMPARE(damaged.offsetDb, 0.0);
    QCOMPARE(damaged.frequencyMhz, 0.0);
    QCOMPARE(damaged.average, 1);
    QVERIFY(damaged.tables[5].isEmpty());
    QCOMPARE(damaged.reference[Protocol::Rms], std::nullopt);

    QFile big(dir.filePath(QStringLiteral("big.csv")));
    QVERIFY(big.open(QIODevice::WriteOnly));
    QVERIFY(big.write("100;0\n200;0\n" + QByteArray(1024 * 1024, '\n')) > 0);
    big.close();
    QString why;
    QVERIFY(!CorrectionTable::load(big.fileName(), &why));
    QCOMPARE(why, QStringLiteral("Datei groesser als 1 MB"));
}

// The live log of corrected readings: the raw level beside the corrected
// one, "dBr" and no voltage nor power for a relative level.
void TestMeasurement::log_data()
{
    QTest::addColumn<LiveLog::Format>("format");
    QTest::addColumn<bool>("relative");
    QTest::addColumn<QByteArray>("line"); // without its time

    using F = LiveLog::Format;
    QTest::newRow("csv") << F::Csv << false << QByteArray("rms;20;dBm;2.23607;0.1;;;;;;-20");
    QTest::newRow("csv, relative") << F::Csv << true << QByteArray("rms;-3;dBr;;;;;;;;-23");
    QTest::newRow("jsonl") << F::JsonLines << false
                           << QByteArray(
                                  "{\"kind\":\"rms\",\"level\":20,\"power_W\":0.1,"
                                  "\"raw_level\":-20,\"unit\":\"dBm\",\"voltage_V\":2.23607}");
    QTest::newRow("jsonl, relative")
        << F::JsonLines << true
        << QByteArray("{\"kind\":\"rms\",\"level\":-3,\"power_W\":null,\"raw_level\":-23,"
                      "\"unit\":\"dBr\",\"voltage_V\":null}");
    QTest::newRow("influx") << F::Influx << false
                            << QByteArray("tavrolinde,kind=rms,unit=dBm "
                                          "level=20,voltage_V=2.23607,power_W=0.1,raw_level=-20");
    QTest::newRow("influx, relative")
        << F::Influx << true << QByteArray("tavrolinde,kind=rms,unit=dBr level=-3,raw_level=-23");
}

void TestMeasurement::log()
{
    QFETCH(LiveLog::Format, format);
    QFETCH(bool, relative);
    QFETCH(QByteArray, line);

    LiveLog log(format);
    log.setCorrected(true);
    MeterStream::Reading reading;
    reading.level = relative ? -3.0 : 20.0;
    reading.rawLevel = relative ? -23.0 : -20.0;
    reading.relative = relative;
    log.reading(reading);
    log.status(MeterStream::Status());
    const QByteArrayList lines = log.takeLines();
    QCOMPARE(lines.size(), 2);
    QByteArray written = lines.first();
    if (format == LiveLog::Format::Csv) {
        written = written.mid(written.indexOf(';') + 1);
        // Every line has the header's columns, the status too.
        QVERIFY(log.header().endsWith(";recording;raw_level"));
        for (const QByteArray &each : lines)
            QCOMPARE(each.count(';'), log.header().count(';'));
    } else if (format == LiveLog::Format::JsonLines) {
        QJsonObject object = QJsonDocument::fromJson(written).object();
        object.remove(QStringLiteral("time"));
        written = QJsonDocument(object).toJson(QJsonDocument::Compact);
    } else {
        written.truncate(written.lastIndexOf(' '));
    }
    QCOMPARE(written, line);
}

QTEST_GUILESS_MAIN(TestMeasurement)
#include "tst_measurement.moc"
