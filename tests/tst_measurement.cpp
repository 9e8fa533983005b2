// The corrections of live readings, their table files and kept settings, and
// the live log of corrected readings.

#include "filecontents.h"
#include "livelog.h"
#include "measurement.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <tuple>

namespace {

const double NaN = qQNaN();

// Settings as words: "offset 40 frequency 150 table 2 average 10 nostep
// relative reference -20"; "table 2" gives head 2 the table 100;0.5
// 200;1.5 300;1.0, "reference" is the RMS one.
MeasurementSettings settings(const QString &words)
{
    MeasurementSettings set;
    const QStringList w = words.split(QLatin1Char(' '));
    const auto after = [&w](const char *key) { return w.value(w.indexOf(key) + 1).toDouble(); };
    set.offsetDb = after("offset");
    set.frequencyMhz = after("frequency");
    set.average = w.contains("average") ? int(after("average")) : 1;
    set.stepDetection = !w.contains("nostep");
    set.relative = w.contains("relative");
    if (w.contains("table"))
        set.tables[int(after("table"))] = *CorrectionTable::parse("100;.5\n200;1.5\n300;1", {});
    if (w.contains("reference"))
        set.reference[Protocol::Rms] = after("reference");
    return set;
}

} // namespace

class TestMeasurement : public QObject
{
    Q_OBJECT

private slots:
    void readings_data();
    void readings();
    void tableFile_data();
    void tableFile();
    void kept();
    void log();
};

void TestMeasurement::readings_data()
{
    QTest::addColumn<QString>("set");
    // "-20": an RMS reading, "pep -20", "head 3": a status with head 3,
    // "restart": the meter lost, "reference": "Referenz setzen".
    QTest::addColumn<QString>("events");
    QTest::addColumn<double>("absolute");
    QTest::addColumn<double>("level"); // NaN: not relative

    const std::tuple<const char *, const char *, const char *, double, double> rows[] = {
        {"nothing set", "", "-0", -0.0, NaN},
        {"offset", "offset 40", "-20", 20.0, NaN},
        {"between points", "frequency 150 table 2", "head 2, -20", -19.0, NaN},
        {"second segment", "frequency 250 table 2", "head 2, -20", -18.75, NaN},
        {"below the table", "frequency 50 table 2", "head 2, -20", -19.5, NaN},
        {"above the table", "frequency 1e3 table 2", "head 2, -20", -19.0, NaN},
        {"another head", "offset 3 frequency 150 table 2", "-20", -17.0, NaN},
        // The mean of -10 and -20 dBm is -12.6 dBm, not -15.
        {"on power", "average 2 nostep", "-10, -20", -12.596, NaN},
        {"oldest leaves", "average 2 nostep", "-30, -10, -20", -12.596, NaN},
        {"kinds apart", "average 9", "-10, pep -20, -11", -10.471, NaN},
        {"step up", "average 9", "-20, -20, -20, -16.9", -16.9, NaN},
        {"step down", "average 9", "-20, -20, -23.1", -23.1, NaN},
        {"within 3 dB", "average 9", "-20, -20, -22.9", -20.770, NaN},
        {"no step detection", "average 9 nostep", "-20, -10", -12.596, NaN},
        // A large power leaving the running sum leaves the small ones exact.
        {"large one leaves", "average 3 nostep", "60, -90, -90, -90", -90.0, NaN},
        {"head change", "average 9 nostep", "-10, head 3, -20", -20.0, NaN},
        {"meter lost", "average 9 nostep", "-10, restart, -20", -20.0, NaN},
        {"unreadable", "average 9 nostep", "-20, 1e300, nan, -10", -12.596, NaN},
        {"typed reference", "relative reference -20", "-23.5", -23.5, -3.5},
        {"first result", "relative", "-20, -23", -23.0, -3.0},
        {"first per kind", "relative", "-20, pep -30, -19", -19.0, 1.0},
        {"reference set", "offset 3", "-20, reference, -21", -18.0, -1.0},
    };
    for (const auto &[name, set, events, absolute, level] : rows)
        QTest::newRow(name) << QString::fromLatin1(set) << QString::fromLatin1(events) << absolute
                            << level;
}

void TestMeasurement::readings()
{
    QFETCH(QString, set);
    QFETCH(QString, events);
    QFETCH(double, absolute);
    QFETCH(double, level);

    Measurement measurement;
    measurement.setSettings(settings(set));
    int head = 0;
    Measurement::Result result;
    for (const QString &event : events.split(QLatin1String(", "))) {
        const QStringList words = event.split(QLatin1Char(' '));
        if (words.first() == QLatin1String("head"))
            head = words.at(1).toInt();
        else if (event == QLatin1String("restart"))
            measurement.restart();
        else if (event == QLatin1String("reference"))
            QVERIFY(measurement.setReferenceFromLast());
        else
            result = measurement.take(Protocol::LevelKind(words.size() - 1),
                                      words.last().toDouble(), head);
    }
    QCOMPARE(result.raw, events.section(QLatin1Char(' '), -1).toDouble());
    QVERIFY(std::abs(result.absolute - absolute) < 1e-3);
    QCOMPARE(std::signbit(result.absolute), std::signbit(absolute)); // -0 stays -0
    QCOMPARE(result.relative, !std::isnan(level));
    QVERIFY(std::abs(result.level - (result.relative ? level : absolute)) < 1e-3);
}

void TestMeasurement::tableFile_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error"); // empty: read

    QByteArray full = "frequency;correction\n# sheet 4711\n";
    for (int i = 0; i < 1000; ++i)
        full += QByteArray::number(i) + ";0.1\n";
    const std::tuple<const char *, QByteArray, const char *> rows[] = {
        {"header, comments", "\xEF\xBB\xBF# 2\r\nMHz,dB\r\n\r\n100.5, -0.25\r\n # x\r\n200,1", ""},
        {"decimal comma", "145;-0,3\n435;-1,1", ""},
        {"1000 points", full, ""},
        {"1001 points", full + "2000;0\n", "Zeile 1003: mehr als 1000 Punkte"},
        {"not ascending", "f;c\n100;0\n200;0\n200;0\n", "Zeile 4: Frequenz nicht aufsteigend"},
        {"second text line", "f;c\nMHz;dB\n100;0\n", "Zeile 2: keine zwei Zahlen"},
        {"comma in both places", "100,0\n145,5,-0,3\n", "Zeile 2: keine zwei Zahlen"},
        {"infinite", "100;0\ninf;0\n", "Zeile 2: Zahl nicht endlich"},
        {"one point", "# x\n100;0\n", "zu wenige Punkte (mindestens 2)"},
    };
    for (const auto &[name, text, error] : rows)
        QTest::newRow(name) << text << QString::fromLatin1(error);
}

void TestMeasurement::tableFile()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, error);

    QString why;
    QCOMPARE(CorrectionTable::parse(text, &why).has_value(), error.isEmpty());
    QCOMPARE(why, error);
}

// The settings and a table come back from their files; a damaged settings
// file gives the defaults where it is damaged; a table beyond 1 MB is not
// read; the display line names what is in force.
void TestMeasurement::kept()
{
    QTemporaryDir dir;
    QSettings file(dir.filePath(QStringLiteral("tavrold.ini")), QSettings::IniFormat);
    MeasurementSettings set =
        settings(QStringLiteral("offset -12.25 frequency 150 table 5 average 20 nostep relative"));
    set.reference[Protocol::Pep] = -7.125;
    QCOMPARE(set.summary(5), "Korrektur: Offset -12.25 dB, AD8361 linear bei 150.000 MHz "
                             "+1.00 dB, Mittel 20, relativ");
    QCOMPARE(set.summary(2), "Korrektur: Offset -12.25 dB, Mittel 20, relativ");
    file.setValue(QStringLiteral("messung/tabelle1"), QStringLiteral("old"));
    set.save(file);
    QVERIFY(MeasurementSettings::load(file) == set);
    QVERIFY(!file.contains(QStringLiteral("messung/tabelle1")));
    for (const char *key : {"offset", "frequenz", "referenz_pep", "tabelle5", "mittel"})
        file.setValue(QStringLiteral("messung/") + QLatin1String(key), QStringLiteral("nan"));
    file.setValue(QStringLiteral("messung/relativ"), false);
    file.setValue(QStringLiteral("messung/sprung"), true);
    QVERIFY(MeasurementSettings::load(file) == MeasurementSettings());

    const QString table = dir.filePath(QStringLiteral("kopf.csv"));
    QString why;
    QVERIFY(set.tables[5].save(table, &why));
    QCOMPARE(CorrectionTable::load(table, &why), set.tables[5]);
    QVERIFY(FileContents::writeFile(table, "1;0\n2;0\n" + QByteArray(1024 * 1024, '#')));
    QVERIFY(!CorrectionTable::load(table, &why));
    QCOMPARE(why, QStringLiteral("Datei groesser als 1 MB"));
}

// The live log of corrected readings: the raw level last, "dBr" for a
// relative level with the voltage and power of the absolute one, every line
// as wide as the header.
void TestMeasurement::log()
{
    LiveLog csv(LiveLog::Format::Csv);
    csv.setCorrected(true);
    csv.reading(MeterStream::Reading{Protocol::Rms, -3.0, false, -23.0, -20.0, true});
    csv.status(MeterStream::Status());
    const QByteArrayList lines = csv.takeLines();
    QVERIFY(csv.header().endsWith(";recording;raw_level"));
    QVERIFY2(lines.first().endsWith(";rms;-3;dBr;0.0223607;1e-05;;;;;;-23"), lines.first());
    QCOMPARE(lines.last().count(';'), csv.header().count(';'));
}

QTEST_GUILESS_MAIN(TestMeasurement)
#include "tst_measurement.moc"
