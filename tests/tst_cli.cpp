// The command-line tool as its users meet it: the built tavrold-cli run
// against the simulated meter and against raw pseudo-terminals in a
// sandboxed ports folder. The search and its answers, the live log in both
// formats with the right units for RF and audio heads, how it ends, and the
// command line it refuses.

#include "clitool.h"
#include "portssandbox.h"
#include "programline.h"
#include "ptymeter.h"
#include "sandboxedmeter.h"
#include "simulatorprocess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <csignal>
#include <optional>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// One line of the live log, whichever format it came in.
struct LogLine
{
    QString time;
    QString kind;
    std::optional<double> level;
    QString unit;
    std::optional<double> volts;
    std::optional<double> watts;
    QString head;
    QString number;
    QString maxLevel;
    QString attenuator;
    QString recording; // "1", "0" or empty
    bool wellFormed = false;
};

std::optional<double> csvNumber(const QString &text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}

LogLine fromCsv(const QByteArray &text)
{
    LogLine line;
    const QStringList f = QString::fromUtf8(text).split(QLatin1Char(';'));
    if (f.size() != 11)
        return line;
    line = {f[0], f[1], csvNumber(f[2]), f[3], csvNumber(f[4]), csvNumber(f[5]), f[6], f[7],
            f[8], f[9], f[10],           true};
    // An empty field must be empty, not text that fails to read.
    for (int i : {2, 4, 5})
        if (!f[i].isEmpty() && !csvNumber(f[i]))
            line.wellFormed = false;
    return line;
}

std::optional<double> jsonNumber(const QJsonObject &o, const char *key, bool *ok)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isDouble())
        return v.toDouble();
    if (!v.isNull())
        *ok = false;
    return std::nullopt;
}

QString jsonText(const QJsonValue &v)
{
    if (v.isDouble())
        return QString::number(v.toDouble(), 'g', 12);
    if (v.isBool())
        return v.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    return v.toString();
}

LogLine fromJson(const QByteArray &text)
{
    LogLine line;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return line;
    const QJsonObject o = doc.object();
    bool ok =
        o.value(QLatin1String("time")).isString() && o.value(QLatin1String("kind")).isString();
    line.time = o.value(QLatin1String("time")).toString();
    line.kind = o.value(QLatin1String("kind")).toString();
    if (line.kind == QLatin1String("status")) {
        ok = ok && o.size() == 7 && o.value(QLatin1String("head")).isString() &&
             o.value(QLatin1String("number")).isDouble();
        line.head = o.value(QLatin1String("head")).toString();
        line.number = jsonText(o.value(QLatin1String("number")));
        line.maxLevel = jsonText(o.value(QLatin1String("max_level_dBm")));
        line.attenuator = jsonText(o.value(QLatin1String("attenuator_dB")));
        line.recording = jsonText(o.value(QLatin1String("recording")));
    } else {
        ok = ok && o.size() == 6 && o.value(QLatin1String("unit")).isString();
        line.level = jsonNumber(o, "level", &ok);
        line.unit = o.value(QLatin1String("unit")).toString();
        line.volts = jsonNumber(o, "voltage_V", &ok);
        line.watts = jsonNumber(o, "power_W", &ok);
    }
    line.wellFormed = ok;
    return line;
}

// A line of InfluxDB's line protocol: "tavrolinde,id=..,kind=..[,unit=..]
// field=value,... nanoseconds"; string fields are quoted and may hold blanks.
LogLine fromInflux(const QByteArray &text)
{
    LogLine line;
    const qsizetype tagsEnd = text.indexOf(' ');
    const qsizetype fieldsEnd = text.lastIndexOf(' ');
    if (tagsEnd < 0 || fieldsEnd <= tagsEnd)
        return line;
    QList<QByteArray> tags = text.left(tagsEnd).split(',');
    bool ok = tags.takeFirst() == "tavrolinde";
    for (const QByteArray &tag : std::as_const(tags)) {
        const QList<QByteArray> pair = tag.split('=');
        ok = ok && pair.size() == 2;
        if (pair.value(0) == "kind")
            line.kind = QString::fromUtf8(pair.value(1));
        else if (pair.value(0) == "unit")
            line.unit = QString::fromUtf8(pair.value(1));
        else
            ok = ok && pair.value(0) == "id" && pair.value(1).startsWith("meter");
    }
    QList<QByteArray> fields;
    bool quoted = false;
    QByteArray field;
    for (char c : text.mid(tagsEnd + 1, fieldsEnd - tagsEnd - 1) + ',') {
        quoted = c == '"' ? !quoted : quoted;
        if (c == ',' && !quoted)
            fields.append(std::exchange(field, QByteArray()));
        else
            field += c;
    }
    for (const QByteArray &f : std::as_const(fields)) {
        const QByteArray key = f.left(f.indexOf('='));
        const QByteArray value = f.mid(f.indexOf('=') + 1);
        const QString number = QString::fromUtf8(value);
        if (key == "level" || key == "voltage_V" || key == "power_W") {
            (key == "level"       ? line.level
             : key == "voltage_V" ? line.volts
                                  : line.watts) = csvNumber(number);
        } else if (key == "head") {
            ok = ok && value.startsWith('"') && value.endsWith('"');
            line.head = QString::fromUtf8(value.mid(1, value.size() - 2));
        } else if (key == "number") {
            ok = ok && value.endsWith('i');
            line.number = number.chopped(1);
        } else if (key == "recording") {
            line.recording = value == "true" ? QStringLiteral("1") : QStringLiteral("0");
        } else {
            (key == "max_level_dBm" ? line.maxLevel : line.attenuator) = number;
        }
    }
    const QByteArray nanoseconds = text.mid(fieldsEnd + 1);
    ok = ok && nanoseconds.endsWith("000000");
    line.time = QDateTime::fromMSecsSinceEpoch(nanoseconds.chopped(6).toLongLong(), Qt::UTC)
                    .toString(Qt::ISODateWithMs);
    line.wellFormed = ok;
    return line;
}

// The data lines of the log (the CSV header checked and left out).
QList<LogLine> logLines(const QByteArray &out, const QString &format)
{
    QList<QByteArray> lines = out.split('\n');
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    QList<LogLine> result;
    if (format == QLatin1String("csv")) {
        if (lines.isEmpty() || lines.takeFirst() !=
                                   "time;kind;level;unit;voltage_V;power_W;head;number;"
                                   "max_level_dBm;attenuator_dB;recording")
            return {};
        for (const QByteArray &l : std::as_const(lines))
            result.append(fromCsv(l));
    } else {
        for (const QByteArray &l : std::as_const(lines))
            result.append(format == QLatin1String("influx") ? fromInflux(l) : fromJson(l));
    }
    return result;
}

bool near(double a, double b)
{
    return std::abs(a - b) <= 1e-5 * std::abs(b) + 1e-300;
}

// Checks a level line: its unit by the head, its voltage and power from its
// level as the meter's head defines them (50 ohms for RF heads).
void verifyLevel(const LogLine &line, bool audio)
{
    QVERIFY2(line.wellFormed, qPrintable(line.time));
    QVERIFY(line.kind == QLatin1String("rms") || line.kind == QLatin1String("pep"));
    QVERIFY(line.level);
    QCOMPARE(line.unit, audio ? QStringLiteral("dBV") : QStringLiteral("dBm"));
    const double level = *line.level;
    const double volts =
        audio ? std::pow(10.0, level / 20.0) : std::sqrt(std::pow(10.0, level / 10.0) * 0.05);
    QVERIFY(line.volts);
    QVERIFY2(near(*line.volts, volts), qPrintable(QString::number(*line.volts)));
    if (audio) {
        QVERIFY(!line.watts);
    } else {
        QVERIFY(line.watts);
        QVERIFY2(near(*line.watts, volts * volts / 50.0), qPrintable(QString::number(*line.watts)));
    }
    QVERIFY(line.head.isEmpty() && line.number.isEmpty() && line.recording.isEmpty());
}

const QRegularExpression &isoTime()
{
    static const QRegularExpression re(QStringLiteral(
        "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}(Z|[+-]\\d\\d:\\d\\d)$"));
    return re;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void probeFindsTheMeter_data();
    void probeFindsTheMeter();
    void probeFindsNoMeter_data();
    void probeFindsNoMeter();
    void timeoutGoesRoundAgain();
    void stopDuringSearch();

    void liveFromSimulator_data();
    void liveFromSimulator();
    void liveMessages_data();
    void liveMessages();
    void liveCorrected_data();
    void liveCorrected();
    void limits_data();
    void limits();
    void liveEnds_data();
    void liveEnds();
    void liveMeterGone();
    void outputFails_data();
    void outputFails();

    void badUsage_data();
    void badUsage();
    void helpAndVersion();
};

void TestCli::initTestCase()
{
    if (CliTool::program().isEmpty() || SimulatorProcess::program().isEmpty())
        QSKIP("tavrold-cli or tavrold-sim is not built here");
}

void TestCli::probeFindsTheMeter_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("simPort");
    QTest::addColumn<int>("firmware");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<bool>("leftStreaming"); // by a run that ended without "#c;"

    QTest::newRow("search") << QStringList{} << "COM3" << 21 << QByteArray("COM3 FW:2.xx\n")
                            << false;
    QTest::newRow("lowest firmware")
        << QStringList{} << "COM1" << 11 << QByteArray("COM1 FW:1.xx\n") << false;
    QTest::newRow("--port") << QStringList{"--port", "COM12"} << "COM12" << 127
                            << QByteArray("COM12 FW:12.xx\n") << false;
    QTest::newRow("--port lower case") << QStringList{"--port", "com20"} << "COM20" << 35
                                       << QByteArray("COM20 FW:3.xx\n") << false;
    QTest::newRow("a meter left streaming")
        << QStringList{"--port", "COM5"} << "COM5" << 21 << QByteArray("COM5 FW:2.xx\n") << true;
}

// COM2 is a silent line: the search must get past it to the meter.
void TestCli::probeFindsTheMeter()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, simPort);
    QFETCH(int, firmware);
    QFETCH(QByteArray, expected);
    QFETCH(bool, leftStreaming);

    PortsSandbox sandbox;
    PtyMeter silent(sandbox, QStringLiteral("COM2"));
    QVERIFY(silent.isValid());
    SimulatorProcess sim(sandbox);
    QVERIFY2(sim.start({"--port", simPort, "--firmware", QString::number(firmware)}),
             qPrintable(sim.errors()));
    if (leftStreaming) {
        // Its stream piles up on the line until the next run opens it.
        ProgramLine line;
        QVERIFY(line.open(sandbox.portsDir() + QLatin1Char('/') + simPort));
        QVERIFY(line.write("#o;"));
        QVERIFY(line.waitFor([&] { return line.received.contains("@a"); }, 2000));
        line.close();
        QTest::qWait(1500);
    }

    CliTool tool;
    QVERIFY(tool.run(QStringList{"probe"} + arguments));
    QCOMPARE(tool.exitCode(), 0);
    QCOMPARE(tool.out, expected);
    // The meter was told the program is done.
    QVERIFY(QTest::qWaitFor([&] { return sim.output().contains(QLatin1String("#c;")); }, 5000));
    if (!arguments.isEmpty())
        QVERIFY(!silent.received().contains("#v;")); // only the port given is asked
}

void TestCli::probeFindsNoMeter_data()
{
    QTest::addColumn<QStringList>("arguments"); // COM7 is a silent line
    QTest::addColumn<bool>("refused");          // to a user without rights on it
    QTest::addColumn<QString>("message");

    const QString none = QStringLiteral("Kein Messgeraet gefunden (COM1 bis COM20 abgefragt).");
    const QString notOnCom7 = QStringLiteral("Kein Messgeraet an COM7 gefunden.");
    QTest::newRow("every port absent") << QStringList{} << false << none;
    QTest::newRow("silent line") << QStringList{"--port", "COM7"} << false << notOnCom7;
    QTest::newRow("line it may not open") << QStringList{"--port", "COM7"} << true << notOnCom7;
}

void TestCli::probeFindsNoMeter()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, refused);
    QFETCH(QString, message);

    PortsSandbox sandbox;
    PtyMeter line(sandbox, QStringLiteral("COM7"));
    QVERIFY(line.isValid());
    if (arguments.isEmpty())
        sandbox.block(QStringLiteral("COM7"));
    CliTool tool;
    QString expected = QStringLiteral("tavrold-cli: ") + message;
    if (refused) {
        if (::geteuid() != 0)
            QSKIP("acting as another user needs root");
        // Its device may not be opened: the reason comes first, once.
        QVERIFY(::chmod(QFile::encodeName(sandbox.root()).constData(), 0755) == 0);
        QVERIFY(::chmod(QFile::encodeName(line.devicePath()).constData(), 0) == 0);
        tool.runAs(65534);
        expected.prepend(
            QStringLiteral("tavrold-cli: Kein Zugriff auf %1 (COM7): Gruppe %2 fehlt\n")
                .arg(line.devicePath(), QFileInfo(line.devicePath()).group()));
    }

    QVERIFY(tool.run(QStringList{"probe"} + arguments));
    QCOMPARE(tool.exitCode(), 1);
    QVERIFY(tool.out.isEmpty());
    QCOMPARE(QString::fromLocal8Bit(tool.err).trimmed(), expected);
    // A port that did not answer is not told "#c;": no meter was there.
    QVERIFY(!line.received().contains("#c;"));
    // One pass: 200 ms, then 100 ms after each port that fails to open but
    // the last (1.2 s for a port that opens) - never less.
    QVERIFY(tool.elapsedMs() >= (arguments.isEmpty() ? 2100 : refused ? 200 : 1200));
}

// With --timeout the search goes round past COM20 to COM1 again, as the
// window's does; without it, it stops after one pass.
void TestCli::timeoutGoesRoundAgain()
{
    PortsSandbox sandbox;
    PtyMeter line(sandbox, QStringLiteral("COM1"));
    QVERIFY(line.isValid());
    int probes = 0;
    connect(&line, &PtyMeter::commandSeen, this,
            [&](const QByteArray &c) { probes += c == "#v;"; });

    CliTool onePass;
    QVERIFY(onePass.run({"probe"}));
    QCOMPARE(onePass.exitCode(), 1);
    QCOMPARE(probes, 1);

    // A pass takes 0.2 + 1.2 + 19 * 0.1 = 3.3 s: 5 s reach COM1 again, with
    // time to spare on a busy machine.
    probes = 0;
    CliTool rounds;
    QVERIFY(rounds.run({"probe", "--timeout", "5"}));
    QCOMPARE(rounds.exitCode(), 1);
    QVERIFY(probes >= 2);
    QVERIFY(rounds.elapsedMs() >= 5000);
}

// A stop signal during the search ends it at once, as "no meter".
void TestCli::stopDuringSearch()
{
    PortsSandbox sandbox;
    CliTool tool;
    QVERIFY(tool.start({"live", "--timeout", "600"}));
    QVERIFY(tool.waitUntilCatches(SIGTERM));
    QTest::qWait(300); // searching
    tool.signal(SIGTERM);
    QVERIFY(tool.waitForExit(30000));
    QCOMPARE(tool.exitCode(), 1);
    QCOMPARE(tool.err, QByteArray("tavrold-cli: Abgebrochen.\n"));
    QVERIFY(tool.out.isEmpty());
}

void TestCli::liveFromSimulator_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("head");
    QTest::addColumn<QString>("headName");

    QTest::newRow("csv, AD8362") << "csv" << 0 << "AD8362";
    QTest::newRow("csv, AD8362 NF (audio)") << "csv" << 1 << "AD8362 NF";
    QTest::newRow("jsonl, AD8307") << "jsonl" << 2 << "AD8307";
    QTest::newRow("jsonl, AD8307 NF (audio)") << "jsonl" << 3 << "AD8307 NF";
    QTest::newRow("influx, AD8361 linear") << "influx" << 5 << "AD8361 linear";
    QTest::newRow("influx, AD8362 NF (audio)") << "influx" << 1 << "AD8362 NF";
}

void TestCli::liveFromSimulator()
{
    QFETCH(QString, format);
    QFETCH(int, head);
    QFETCH(QString, headName);
    const bool audio = head == 1 || head == 3;

    PortsSandbox sandbox;
    SimulatorProcess sim(sandbox);
    QVERIFY2(sim.start({"--port", "COM4", "--head", QString::number(head), "--number", "17",
                        "--max-level", "12.5", "--attenuator", "10", "--recording", "on"}),
             qPrintable(sim.errors()));

    CliTool tool;
    QVERIFY(tool.run({"live", "--format", format, "--count", "12"}));
    QCOMPARE(tool.exitCode(), 0);
    const QList<LogLine> lines = logLines(tool.out, format);
    QCOMPARE(lines.size(), 12);
    // The meter sends its status first, then levels five times a second.
    QCOMPARE(lines.first().kind, QStringLiteral("status"));
    int levels = 0;
    for (const LogLine &line : lines) {
        QVERIFY2(isoTime().match(line.time).hasMatch(), qPrintable(line.time));
        if (line.kind == QLatin1String("status")) {
            QVERIFY(line.wellFormed);
            QCOMPARE(line.head, headName);
            QCOMPARE(line.number, QStringLiteral("17"));
            QCOMPARE(line.maxLevel, QStringLiteral("12.5"));
            QCOMPARE(line.attenuator, QStringLiteral("10"));
            QCOMPARE(line.recording, QStringLiteral("1"));
            QVERIFY(!line.level && !line.volts && !line.watts && line.unit.isEmpty());
        } else {
            verifyLevel(line, audio);
            if (QTest::currentTestFailed())
                return;
            ++levels;
        }
    }
    QVERIFY(levels >= 10);
    // "#o;" to start, "#c;" when done.
    QVERIFY(QTest::qWaitFor([&] { return sim.output().contains(QLatin1String("#c;")); }, 5000));
    QVERIFY(sim.output().indexOf(QLatin1String("#o;")) <
            sim.output().indexOf(QLatin1String("#c;")));
}

void TestCli::liveMessages_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("decimalComma");
    QTest::newRow("csv") << "csv" << false;
    QTest::newRow("csv, decimal comma") << "csv" << true;
    QTest::newRow("jsonl") << "jsonl" << false;
    QTest::newRow("influx") << "influx" << false;
}

// The message rules as the window applies them, on a stream of our own: the
// head switches the units at once, blanks leave levels, a message without a
// type letter keeps the type before it, unreadable levels are 0, only 0 and
// 1 change the recording state, downloads are not logged, a level far beyond
// any real one is kept to the display's range.
void TestCli::liveMessages()
{
    QFETCH(QString, format);
    QFETCH(bool, decimalComma);

    SandboxedMeter line(QStringLiteral("COM5"));
    PtyMeter &meter = line.meter;
    QVERIFY(meter.isValid());
    // Bytes after the reply stay on the line and are read with the stream,
    // as the window reads them.
    meter.setReply("#v;", SandboxedMeter::identification() + "@a-99;");
    meter.setReply("#o;", "\r\n@s1*5*0.0*0.0*0;@a-26.0;@b 1 2 . 5 ;@s2*17*20.0*10.0*1;"
                          "@-23.4a;@s0*7*12.5*20*2;@k1*2;@d1*2;@a@-10;@-20.0;xx@s9*1*1*1*0;"
                          "@b13.0;@b1e300;@s4*3*-5.5*0.5*0;@a-2");
    struct Expected
    {
        const char *kind;
        double level; // for levels
        const char *unitOrHead;
        const char *number;
        const char *recording;
    };
    const Expected expected[] = {
        {"rms", -99.0, "dBm", "", ""},       {"status", 0, "AD8362 NF", "5", "0"},
        {"rms", -26.0, "dBV", "", ""},       {"pep", 12.5, "dBV", "", ""},
        {"status", 0, "AD8307", "17", "1"},  {"rms", -23.4, "dBm", "", ""},
        {"status", 0, "AD8362", "7", "1"},   {"rms", 0.0, "dBm", "", ""},
        {"rms", -20.0, "dBm", "", ""},       {"status", 0, "Unbekannt", "1", "0"},
        {"pep", 13.0, "dBm", "", ""},        {"pep", 200.0, "dBm", "", ""},
        {"status", 0, "Unbekannt", "3", "0"}};
    const int count = int(std::size(expected));

    CliTool tool;
    QStringList arguments{"live", "--format", format, "--count", QString::number(count)};
    if (decimalComma)
        arguments << "--decimal-comma";
    QVERIFY(tool.run(arguments));
    QCOMPARE(tool.exitCode(), 0);
    QByteArray out = tool.out;
    if (decimalComma) {
        // Every number has a comma instead of its point; the time keeps its
        // milliseconds' point. Else the lines are those of plain CSV.
        QVERIFY(out.contains(','));
        for (const QByteArray &text : out.split('\n').mid(1)) {
            const QList<QByteArray> fields = text.split(';');
            for (qsizetype i = 0; i < fields.size(); ++i)
                QVERIFY2(fields[i].contains('.') == (i == 0 && !text.isEmpty()), text);
        }
        out.replace(',', '.');
    }
    const QList<LogLine> lines = logLines(out, format);
    QCOMPARE(lines.size(), count);
    for (int i = 0; i < count; ++i) {
        const LogLine &line = lines.at(i);
        const Expected &e = expected[i];
        QCOMPARE(line.kind, QString::fromLatin1(e.kind));
        if (line.kind == QLatin1String("status")) {
            QVERIFY(line.wellFormed);
            QCOMPARE(line.head, QString::fromLatin1(e.unitOrHead));
            QCOMPARE(line.number, QString::fromLatin1(e.number));
            QCOMPARE(line.recording, QString::fromLatin1(e.recording));
        } else {
            verifyLevel(line, QByteArray(e.unitOrHead) == "dBV");
            if (QTest::currentTestFailed())
                return;
            QCOMPARE(*line.level, e.level);
        }
    }
    QCOMPARE(lines.at(6).maxLevel, QStringLiteral("12.5"));
    QCOMPARE(lines.at(12).maxLevel, QStringLiteral("-5.5"));
    QCOMPARE(lines.at(12).attenuator, QStringLiteral("0.5"));
    QVERIFY(meter.waitForReceived("#c;"));
    QVERIFY(meter.received().endsWith("#v;#o;#c;"));
}

void TestCli::liveCorrected_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<double>("added"); // to every raw level; NaN: relative
    QTest::newRow("attenuator") << QStringList{"--offset", "40"} << 40.0;
    QTest::newRow("table at 150 MHz")
        << QStringList{"--correction", "TABLE", "--frequency", "150"} << 1.0;
    QTest::newRow("relative") << QStringList{"--relative"} << qQNaN();
}

// The simulated meter at -20 dBm through the tool's corrections: the CSV
// carries the corrected level and the raw one last; a relative log starts at
// 0 dBr for each kind.
void TestCli::liveCorrected()
{
    QFETCH(QStringList, options);
    QFETCH(double, added);
    PortsSandbox sandbox;
    SimulatorProcess sim(sandbox);
    QVERIFY2(sim.start({"--port", "COM1", "--level", "-20"}), qPrintable(sim.errors()));
    QTemporaryDir dir;
    const QString table = dir.filePath("kopf.csv");
    QFile file(table);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("100;0.5\n200;1.5\n") > 0);
    file.close();
    options.replaceInStrings(QStringLiteral("TABLE"), table);

    CliTool tool;
    QVERIFY(tool.run(QStringList{"live", "--count", "9"} + options));
    QCOMPARE(tool.exitCode(), 0);
    const QList<QByteArray> lines = tool.out.trimmed().split('\n');
    QVERIFY(lines.first().endsWith(";recording;raw_level"));
    QSet<QByteArray> firstOfKind;
    for (const QByteArray &line : lines.mid(1)) {
        const QList<QByteArray> fields = line.trimmed().split(';');
        QCOMPARE(fields.size(), 12);
        if (fields[1] == "status")
            continue;
        const double level = fields[2].toDouble();
        const double raw = fields.last().toDouble();
        QVERIFY2(raw > -30 && raw < -10, line);
        if (qIsNaN(added)) {
            QCOMPARE(fields[3], QByteArray("dBr"));
            if (!firstOfKind.contains(fields[1]))
                QCOMPARE(level, 0.0);
            firstOfKind.insert(fields[1]);
        } else {
            QCOMPARE(fields[3], QByteArray("dBm"));
            QVERIFY2(qAbs(level - raw - added) < 1e-9, line);
        }
    }
}

void TestCli::limits_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("output"); // in the output; for live: the RMS lines' field
    const QStringList check{"check", "--count", "10"};
    QTest::newRow("check inside") << check +
                                         QStringList{"--limit-low", "-25", "--limit-high", "-15"}
                                  << 0 << QByteArray("RMS: 10 Werte, min -2");
    QTest::newRow("check below") << check + QStringList{"--limit-low", "-18"} << 5
                                 << QByteArray("1x ausserhalb: FEHLER");
    QTest::newRow("check PEP behind an offset")
        << QStringList{"check",        "--count", "3",        "--limit-kind", "pep",
                       "--limit-high", "-18",     "--offset", "-10"}
        << 0 << QByteArray("PEP: 3 Werte");
    QTest::newRow("live below") << QStringList{"live", "--count", "3", "--limit-low", "-18"} << 0
                                << QByteArray("low");
    QTest::newRow("live inside, corrected")
        << QStringList{"live", "--count", "3", "--limit-high", "-15", "--average", "3"} << 0
        << QByteArray("ok");
}

// The simulated meter at -20 dBm against limits: check's verdict and exit
// status, and live's field "limit" (after raw_level; empty for PEP).
void TestCli::limits()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, output);
    PortsSandbox sandbox;
    SimulatorProcess sim(sandbox);
    QVERIFY2(sim.start({"--port", "COM1", "--level", "-20"}), qPrintable(sim.errors()));

    CliTool tool;
    QVERIFY(tool.run(arguments));
    QCOMPARE(tool.exitCode(), exitCode);
    if (arguments.first() == QLatin1String("check")) {
        QCOMPARE(tool.out.count('\n'), 1);
        QVERIFY2(tool.out.contains(output), tool.out);
        return;
    }
    const QList<QByteArray> lines = tool.out.trimmed().split('\n');
    const bool corrected = arguments.contains(QStringLiteral("--average"));
    QVERIFY(lines.first().endsWith(corrected ? ";raw_level;limit" : ";recording;limit"));
    for (const QByteArray &line : lines.mid(1)) {
        const QList<QByteArray> fields = line.trimmed().split(';');
        QCOMPARE(fields.size(), corrected ? 13 : 12);
        QCOMPARE(fields.last(), fields[1] == "rms" ? output : QByteArray());
    }
}

void TestCli::liveEnds_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("SIGTERM") << "SIGTERM";
    QTest::newRow("SIGINT (Ctrl-C)") << "SIGINT";
    QTest::newRow("--duration") << "duration";
    QTest::newRow("reader gone") << "reader gone";
}

// However the log ends - a signal, its time, a reader that has gone - the
// tool tells the meter "#c;" and ends with 0.
void TestCli::liveEnds()
{
    QFETCH(QString, how);

    SandboxedMeter line(QStringLiteral("COM9"));
    PtyMeter &meter = line.meter;
    QVERIFY(meter.isValid());
    meter.setReply("#o;", "@s0*1*20*0*0;@a-20.0;");
    QTimer more; // the meter goes on sending, as a real one does
    connect(&more, &QTimer::timeout, &meter, [&] { meter.send("@a-21.5;@b-17.0;"); });

    CliTool tool;
    QStringList arguments{"live"};
    if (how == QLatin1String("duration"))
        arguments << "--duration"
                  << "1.5";
    if (how == QLatin1String("reader gone"))
        QVERIFY(tool.startPiped(arguments, QStringLiteral("head -n 3")));
    else
        QVERIFY(tool.start(arguments));
    QVERIFY(tool.waitForLines(3)); // header, status, a level
    more.start(50);
    if (how == QLatin1String("SIGTERM"))
        tool.signal(SIGTERM);
    else if (how == QLatin1String("SIGINT"))
        tool.signal(SIGINT);
    QVERIFY(tool.waitForExit(30000));
    QCOMPARE(tool.exitCode(), 0);
    QVERIFY2(tool.err.contains("HW gefunden an: COM9 FW:2.xx"), tool.err.constData());
    QVERIFY(meter.waitForReceived("#c;"));
    QVERIFY(meter.received().endsWith("#o;#c;"));
    // COM1 to COM8 are absent: 0.2 + 8 * 0.1 s, and a second for the reply,
    // before the log and its time begin.
    if (how == QLatin1String("duration"))
        QVERIFY(tool.elapsedMs() >= 2000 + 1500);
}

void TestCli::liveMeterGone()
{
    SandboxedMeter line(QStringLiteral("COM6"));
    PtyMeter &meter = line.meter;
    QVERIFY(meter.isValid());
    meter.setReply("#o;", "@a-20.0;");

    CliTool tool;
    QVERIFY(tool.start({"live", "--format", "jsonl"}));
    QVERIFY(tool.waitForLines(1));
    meter.vanish();
    QVERIFY(tool.waitForExit(30000));
    QCOMPARE(tool.exitCode(), 1);
    QVERIFY2(tool.err.contains("Verbindung zum Messgeraet an COM6 verloren."),
             tool.err.constData());
}

void TestCli::outputFails_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("probe") << "probe";
    QTest::newRow("live") << "live";
}

// Standard output on a full disk: a failure, not a quiet success; the meter
// is still told "#c;".
void TestCli::outputFails()
{
    QFETCH(QString, command);
    if (!QFileInfo::exists(QStringLiteral("/dev/full")))
        QSKIP("no /dev/full here");

    SandboxedMeter line(QStringLiteral("COM1"));
    PtyMeter &meter = line.meter;
    QVERIFY(meter.isValid());
    meter.setReply("#o;", "@a-20.0;@b-15.0;");
    CliTool tool;
    tool.setOutputFile(QStringLiteral("/dev/full"));
    QVERIFY(tool.run({command}));
    QCOMPARE(tool.exitCode(), 4);
    QVERIFY2(tool.err.contains("Die Ausgabe konnte nicht geschrieben werden."),
             tool.err.constData());
    QVERIFY(meter.waitForReceived("#c;"));
}

void TestCli::badUsage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    const QString file = QStringLiteral("%DIR%/out.csv");
    QTest::newRow("no command") << QStringList{} << 2 << "Kein Befehl angegeben";
    QTest::newRow("unknown command")
        << QStringList{"upload"} << 2 << "Unbekannter Befehl \"upload\"";
    QTest::newRow("two commands") << QStringList{"probe", "live"} << 2
                                  << "Unerwartetes Argument \"live\"";
    QTest::newRow("unknown option")
        << QStringList{"download", "-o", file, "--fast"} << 2 << "Unbekannte Option \"--fast\"";
    QTest::newRow("option of another command") << QStringList{"probe", "--count", "3"} << 2
                                               << "Die Option --count gilt nicht fuer \"probe\"";
    QTest::newRow("missing value")
        << QStringList{"live", "--count"} << 2 << "Die Option --count braucht einen Wert";
    QTest::newRow("value on a switch") << QStringList{"download", "-o", file, "--partial=yes"} << 2
                                       << "Die Option --partial nimmt keinen Wert";
    QTest::newRow("COM0") << QStringList{"probe", "--port", "COM0"} << 2
                          << "Ungueltiger Port \"COM0\": erlaubt sind COM1 bis COM20.";
    QTest::newRow("COM21") << QStringList{"live", "--port=COM21"} << 2
                           << "Ungueltiger Port \"COM21\"";
    QTest::newRow("COM03") << QStringList{"probe", "--port", "COM03"} << 2
                           << "Ungueltiger Port \"COM03\"";
    QTest::newRow("a device path")
        << QStringList{"probe", "--port", "/dev/ttyS0"} << 2 << "Ungueltiger Port \"/dev/ttyS0\"";
    QTest::newRow("no file") << QStringList{"download"} << 2 << "-o DATEI.csv";
    QTest::newRow("influx with a decimal comma")
        << QStringList{"live", "--format", "influx", "--decimal-comma"} << 2
        << "nicht fuer --format influx";
    QTest::newRow("start 25:00:00") << QStringList{"download", "-o", file, "--start", "25:00:00"}
                                    << 2 << "Ungueltige Startzeit \"25:00:00\"";
    QTest::newRow("start 8:30:00") << QStringList{"download", "-o", file, "--start", "8:30:00"} << 2
                                   << "Ungueltige Startzeit \"8:30:00\"";
    QTest::newRow("start 08:30") << QStringList{"download", "-o", file, "--start", "08:30"} << 2
                                 << "erwartet HH:MM:SS";
    QTest::newRow("start 12:00:60") << QStringList{"download", "-o", file, "--start", "12:00:60"}
                                    << 2 << "Ungueltige Startzeit";
    QTest::newRow("format xml") << QStringList{"live", "--format", "xml"} << 2
                                << "Ungueltiges Format \"xml\"";
    QTest::newRow("count 0") << QStringList{"live", "--count", "0"} << 2
                             << "Ungueltige Anzahl \"0\"";
    QTest::newRow("count 2.5") << QStringList{"live", "--count", "2.5"} << 2 << "Ungueltige Anzahl";
    QTest::newRow("duration -1") << QStringList{"live", "--duration", "-1"} << 2
                                 << "Ungueltige Zeit \"-1\" fuer --duration";
    QTest::newRow("timeout nan") << QStringList{"probe", "--timeout", "nan"} << 2
                                 << "Ungueltige Zeit \"nan\" fuer --timeout";
    QTest::newRow("offset 101") << QStringList{"live", "--offset", "101"} << 2
                                << "Ungueltiger Wert \"101\" fuer --offset";
    QTest::newRow("empty table")
        << QStringList{"live", "--frequency", "145", "--correction", "AD8307NF=/dev/null"} << 2
        << "Korrekturtabelle \"/dev/null\" fuer --correction: zu wenige Punkte";
    QTest::newRow("unknown head") << QStringList{"live", "--frequency", "1", "--correction",
                                                 "AD8308=x"}
                                  << 2 << "Unbekannter Messkopf \"AD8308\"";
    QTest::newRow("table without frequency") << QStringList{"live", "--correction", "/dev/null"}
                                             << 2 << "--correction braucht die Frequenz";
    QTest::newRow("check without a limit")
        << QStringList{"check"} << 2 << "braucht einen Grenzwert";
    QTest::newRow("limits crossed")
        << QStringList{"live", "--limit-low", "-10", "--limit-high", "-20"} << 2
        << "--limit-low -10 liegt ueber --limit-high -20";
    QTest::newRow("limit kind avg")
        << QStringList{"check", "--limit-low", "1", "--limit-kind", "avg"} << 2
        << "Ungueltige Art \"avg\"";
#ifdef TAVROLD_PUBLISH
    QTest::newRow("relative to a dashboard")
        << QStringList{"publish", "--relative"} << 2 << "Ein Dashboard braucht absolute Pegel";
#endif
    // Checked before the search: with no meter anywhere the answer is still
    // "file not written", not "no meter".
    QTest::newRow("folder missing") << QStringList{"download", "-o", "%DIR%/missing/out.csv"} << 4
                                    << "Datei %DIR%/missing/out.csv kann nicht geschrieben werden";
    QTest::newRow("a folder") << QStringList{"download", "-o", "%DIR%"} << 4 << "ist ein Ordner";
}

// Every refusal: its exit code, a message naming what was wrong, nothing on
// standard output, no file, and no port asked.
void TestCli::badUsage()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    SandboxedMeter line(QStringLiteral("COM1"));
    PtyMeter &meter = line.meter;
    QVERIFY(meter.isValid());
    QTemporaryDir dir;
    arguments.replaceInStrings(QStringLiteral("%DIR%"), dir.path());
    message.replace(QStringLiteral("%DIR%"), dir.path());

    CliTool tool;
    QVERIFY(tool.run(arguments));
    QCOMPARE(tool.exitCode(), exitCode);
    QVERIFY2(QString::fromLocal8Bit(tool.err).contains(message), tool.err.constData());
    QVERIFY(tool.out.isEmpty());
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList());
    QVERIFY(meter.received().isEmpty());
}

void TestCli::helpAndVersion()
{
    PortsSandbox sandbox;
    CliTool version;
    QVERIFY(version.run({"--version"}));
    QCOMPARE(version.exitCode(), 0);
    QCOMPARE(version.out, QByteArray("tavrold-cli V2.00\n"));

    CliTool help;
    QVERIFY(help.run({"download", "--help"}));
    QCOMPARE(help.exitCode(), 0);
    const QString text = QString::fromLocal8Bit(help.out);
    for (const char *part :
         {"probe", "live", "download", "publish", "--broker URL", "--password-file", "--interval S",
          "--port COMn", "--timeout S", "--format csv|jsonl|influx", "--duration S", "--count N",
          "--start HH:MM:SS", "--partial", "0  in Ordnung", "1  kein Messgeraet gefunden",
          "2  falscher Aufruf", "3  Download unvollstaendig", "4  Datei nicht geschrieben"})
        QVERIFY2(text.contains(QLatin1String(part)), part);
    // The help is plain ASCII, as the window's texts are.
    for (const char c : help.out)
        QVERIFY(uchar(c) < 0x80);
}

QTEST_MAIN(TestCli)
#include "tst_cli.moc"
