// The simulated meter seen from the program's end of the line: its answers to
// each command, its pace, and how it takes, keeps and gives up its COM name.
// Each case starts tavrold-sim in a sandboxed ports folder and talks to it
// through the pseudo-terminal it links there.

#include "portssandbox.h"
#include "programline.h"
#include "ptymeter.h"
#include "simulatorprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <memory>

namespace {

struct Message
{
    char type;
    QByteArray value;
};

// The stream as the program's decoder sees it, checked more strictly: every
// message must be "@", one type letter, a value text without type letters,
// ";". Bytes outside messages are counted.
struct Stream
{
    QList<Message> messages;
    int outsideBytes = 0;
    int malformed = 0;

    static Stream parse(const QByteArray &bytes)
    {
        Stream stream;
        bool inMessage = false;
        QByteArray body;
        for (char c : bytes) {
            if (!inMessage) {
                if (c == '@') {
                    inMessage = true;
                    body.clear();
                } else {
                    ++stream.outsideBytes;
                }
            } else if (c == ';') {
                inMessage = false;
                const QByteArray value = body.mid(1);
                const bool typed = !body.isEmpty() && QByteArray("abdks").contains(body.at(0));
                const bool clean = std::none_of(value.begin(), value.end(), [](char v) {
                    return QByteArray("abdks@").contains(v);
                });
                if (typed && clean)
                    stream.messages.append({body.at(0), value});
                else
                    ++stream.malformed;
            } else {
                body.append(c);
            }
        }
        return stream;
    }

    QList<QByteArray> values(char type) const
    {
        QList<QByteArray> result;
        for (const Message &message : messages) {
            if (message.type == type)
                result.append(message.value);
        }
        return result;
    }

    int indexOf(char type, int from = 0) const
    {
        for (int i = from; i < messages.size(); ++i) {
            if (messages.at(i).type == type)
                return i;
        }
        return -1;
    }
};

// How many reads ended inside a message.
int readsEndingInMessage(const QList<QByteArray> &reads)
{
    int count = 0;
    bool inMessage = false;
    for (const QByteArray &read : reads) {
        for (char c : read) {
            if (c == '@')
                inMessage = true;
            else if (c == ';')
                inMessage = false;
        }
        count += inMessage ? 1 : 0;
    }
    return count;
}

const QRegularExpression levelPattern(QStringLiteral("^-?[0-9]+\\.[0-9]$"));
const QRegularExpression dataSetPattern(QStringLiteral("^(-?[0-9]+)\\*(-?[0-9]+)$"));

} // namespace

class TestSimulator : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void identification_data();
    void identification();
    void streaming_data();
    void streaming();
    void download_data();
    void download();
    void stopCommand_data();
    void stopCommand();
    void pacedRate();
    void commandsAsByteStream_data();
    void commandsAsByteStream();
    void probeWhileStreaming();
    void unplugAndReplug();

    void nameTakenIsRefused_data();
    void nameTakenIsRefused();
    void staleLinkIsReplaced();
    void linkRemovedOnSignal_data();
    void linkRemovedOnSignal();
    void badOptions_data();
    void badOptions();

private:
    QString linkPath(const QString &comName = QStringLiteral("COM1")) const
    {
        return sandbox->portsDir() + QLatin1Char('/') + comName;
    }
    QString linkTarget(const QString &comName = QStringLiteral("COM1")) const
    {
        return QFileInfo(linkPath(comName)).symLinkTarget();
    }

    std::unique_ptr<PortsSandbox> sandbox;
};

void TestSimulator::init()
{
    if (SimulatorProcess::program().isEmpty())
        QSKIP("tavrold-sim is not built on this platform");
    sandbox = std::make_unique<PortsSandbox>();
}

void TestSimulator::cleanup()
{
    sandbox.reset();
}

void TestSimulator::identification_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("earliestMs");

    QTest::newRow("firmware 21 by default") << QStringList() << QByteArray("M\x15") << 0;
    QTest::newRow("firmware 35") << QStringList{"--firmware", "35"} << QByteArray("M\x23") << 0;
    QTest::newRow("firmware 0x80 goes out unchanged")
        << QStringList{"--firmware", "128", "--full-speed"} << QByteArray("M\x80") << 0;
    QTest::newRow("wrong reply") << QStringList{"--wrong-reply"} << QByteArray("X\x15") << 0;
    QTest::newRow("noise and split never spoil the reply")
        << QStringList{"--noise", "--split"} << QByteArray("M\x15") << 0;
    // After the second the program waits for a reply.
    QTest::newRow("late reply") << QStringList{"--late-reply"} << QByteArray("M\x15") << 1000;
}

void TestSimulator::identification()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, reply);
    QFETCH(int, earliestMs);

    SimulatorProcess sim(*sandbox);
    QVERIFY2(sim.start(arguments), qPrintable(sim.errors()));
    ProgramLine line;
    QVERIFY(line.open(linkPath()));

    QElapsedTimer clock;
    clock.start();
    QVERIFY(line.write("#v;"));
    QVERIFY(line.waitFor([&] { return line.received.size() >= 2; }, 20000));
    const qint64 arrivedMs = clock.elapsed();
    QVERIFY2(arrivedMs >= earliestMs,
             qPrintable(QStringLiteral("reply after %1 ms").arg(arrivedMs)));
    // Whether the meter answers at once or holds its reply back (its
    // report says so); how soon a reply comes is up to how busy the machine is.
    static const QRegularExpression answering(
        QStringLiteral("#v; identification, answering [^\n]*?( in \\d+ ms)?\n"));
    QVERIFY(QTest::qWaitFor([&] { return answering.match(sim.output()).hasMatch(); }, 5000));
    const QRegularExpressionMatch planned = answering.match(sim.output());
    QCOMPARE(planned.captured(1), earliestMs > 0 ? QStringLiteral(" in 1500 ms") : QString());
    line.pump(300);
    QCOMPARE(line.received, reply); // exactly the two bytes, nothing after them
    QVERIFY(sim.output().contains("#v;"));
}

void TestSimulator::streaming_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<bool>("faultyLine");

    QTest::newRow("defaults") << QStringList() << QByteArray("0*1*20.0*0.0*0") << false;
    QTest::newRow("RF head, recording")
        << QStringList{"--head",       "2",  "--number",    "17", "--max-level", "20",
                       "--attenuator", "10", "--recording", "on"}
        << QByteArray("2*17*20.0*10.0*1") << false;
    QTest::newRow("audio head") << QStringList{"--head",      "3",    "--number",    "5",
                                               "--max-level", "-3.5", "--recording", "off"}
                                << QByteArray("3*5*-3.5*0.0*0") << false;
    QTest::newRow("noise and split")
        << QStringList{"--noise", "--split", "--full-speed", "--seed", "7"}
        << QByteArray("0*1*20.0*0.0*0") << true;
}

void TestSimulator::streaming()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, status);
    QFETCH(bool, faultyLine);

    SimulatorProcess sim(*sandbox);
    QVERIFY2(sim.start(arguments), qPrintable(sim.errors()));
    ProgramLine line;
    QVERIFY(line.open(linkPath()));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(line.write("#o;"));
    // Three status messages: the first at once, then one every five levels.
    QVERIFY(
        line.waitFor([&] { return Stream::parse(line.received).values('s').size() >= 3; }, 30000));
    // Five levels a second: never faster (a coarse timer may fire some
    // milliseconds early).
    QVERIFY2(clock.elapsed() >= 1800, QByteArray::number(clock.elapsed()));

    const Stream stream = Stream::parse(line.received);
    QCOMPARE(stream.malformed, 0);
    QVERIFY(!stream.messages.isEmpty());
    QCOMPARE(stream.messages.first().type, 's'); // the head is known before any level

    // A status message about once a second: after every fifth pair of levels.
    const QList<QByteArray> statuses = stream.values('s');
    for (const QByteArray &value : statuses)
        QCOMPARE(value, status);
    QList<int> levelsBetween = {0};
    for (const Message &m : stream.messages) {
        if (m.type == 's')
            levelsBetween.append(0);
        else if (m.type == 'a')
            ++levelsBetween.last();
    }
    QCOMPARE(levelsBetween.mid(0, 3), (QList<int>{0, 5, 5}));

    // Levels several times a second, each RMS followed by its PEP, near the
    // set -20 dBm, drifting slowly.
    const QList<QByteArray> rms = stream.values('a');
    const QList<QByteArray> pep = stream.values('b');
    QVERIFY2(rms.size() >= 10, QByteArray::number(rms.size()));
    QVERIFY(pep.size() == rms.size() || pep.size() == rms.size() - 1);
    for (int i = 0; i < rms.size(); ++i) {
        QVERIFY2(levelPattern.match(QString::fromLatin1(rms.at(i))).hasMatch(), rms.at(i));
        const double level = rms.at(i).toDouble();
        QVERIFY2(level > -30.0 && level < -10.0, rms.at(i));
        if (i > 0)
            QVERIFY(qAbs(level - rms.at(i - 1).toDouble()) < 2.0);
        if (i < pep.size()) {
            QVERIFY2(levelPattern.match(QString::fromLatin1(pep.at(i))).hasMatch(), pep.at(i));
            const double crest = pep.at(i).toDouble() - level;
            QVERIFY2(crest >= 1.0 && crest <= 9.0, pep.at(i));
        }
    }
    QCOMPARE(stream.values('k').size() + stream.values('d').size(), 0);

    if (faultyLine) {
        QVERIFY(stream.outsideBytes > 0);              // noise between the messages
        QVERIFY(readsEndingInMessage(line.reads) > 0); // messages arrive in pieces
    } else {
        QCOMPARE(stream.outsideBytes, 0);
    }
    QVERIFY(sim.output().contains("#o;"));
}

void TestSimulator::download_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("streaming");
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("report");

    QTest::newRow("five data sets")
        << QStringList{"--records", "5", "--interval", "10", "--full-speed"} << false
        << QByteArray("4*10") << 5 << "download sent: 5 data sets";
    QTest::newRow("five data sets, noise and split")
        << QStringList{"--records", "5", "--interval", "10", "--full-speed", "--noise", "--split"}
        << false << QByteArray("4*10") << 5 << "download sent: 5 data sets";
    QTest::newRow("paced, while streaming")
        << QStringList{"--records", "20", "--interval", "30"} << true << QByteArray("19*30") << 20
        << "download sent: 20 data sets";
    QTest::newRow("nothing recorded") << QStringList{"--records", "0", "--full-speed"} << false
                                      << QByteArray("-1*60") << 0 << "download sent: 0 data sets";
    QTest::newRow("a full memory")
        << QStringList{"--records", "16000", "--interval", "1", "--full-speed"} << false
        << QByteArray("15999*1") << 16000 << "download sent: 16000 data sets";
    QTest::newRow("stalls after seven")
        << QStringList{"--records", "20", "--stall-after", "7", "--full-speed"} << false
        << QByteArray("19*60") << 7 << "download stalled after 7 of 20 data sets";
}

void TestSimulator::download()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, streaming);
    QFETCH(QByteArray, header);
    QFETCH(int, count);
    QFETCH(QString, report);

    SimulatorProcess sim(*sandbox);
    QVERIFY2(sim.start(arguments), qPrintable(sim.errors()));
    ProgramLine line;
    QVERIFY(line.open(linkPath()));
    if (streaming) {
        QVERIFY(line.write("#o;"));
        QVERIFY(line.waitFor([&] { return line.received.contains("@a"); }, 2000));
    }

    QList<QByteArray> firstDownload;
    for (int pass = 0; pass < 2; ++pass) {
        line.pump(50);
        line.clear();
        QVERIFY(line.write("#d;"));
        QVERIFY(line.waitFor(
            [&] { return line.received.contains("@k") && line.received.count("@d") >= count; },
            20000));
        line.pump(200); // nothing more belongs to the download

        const Stream stream = Stream::parse(line.received);
        QCOMPARE(stream.malformed, 0);
        QCOMPARE(stream.values('k'), QList<QByteArray>{header});
        const QList<QByteArray> dataSets = stream.values('d');
        QCOMPARE(dataSets.size(), count);
        const int headerAt = stream.indexOf('k');
        QVERIFY(stream.indexOf('d') == -1 || stream.indexOf('d') > headerAt);
        for (const QByteArray &value : dataSets) {
            const QRegularExpressionMatch match = dataSetPattern.match(QString::fromLatin1(value));
            QVERIFY2(match.hasMatch(), value); // whole hundredths of a dBm
            const int rms = match.captured(1).toInt();
            const int pep = match.captured(2).toInt();
            QVERIFY2(rms > -4000 && rms < 0 && pep > rms && pep - rms < 1000, value);
        }
        if (streaming) {
            // Live messages go on between the data sets.
            int lastDataSet = headerAt;
            for (int i = headerAt; i < stream.messages.size(); ++i) {
                if (stream.messages.at(i).type == 'd')
                    lastDataSet = i;
            }
            const auto live = std::count_if(stream.messages.begin() + headerAt,
                                            stream.messages.begin() + lastDataSet,
                                            [](const Message &m) { return m.type == 'a'; });
            QVERIFY(live > 0);
        }
        // The memory holds one recording: every download sends it in the same
        // order.
        if (pass == 0)
            firstDownload = dataSets;
        else
            QVERIFY(dataSets == firstDownload);
    }
    QVERIFY(sim.output().contains(report));
}

void TestSimulator::unplugAndReplug()
{
    SimulatorProcess sim(*sandbox);
    QVERIFY2(sim.start({"--unplug-after", "0.5", "--replug-after", "1"}), qPrintable(sim.errors()));
    ProgramLine line;
    QVERIFY(line.open(linkPath()));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(line.write("#o;"));
    QVERIFY(line.waitFor([&] { return line.received.contains("@a"); }, 2000));

    // Unplugged: the line is hung up and the name leads nowhere.
    QVERIFY(
        QTest::qWaitFor([&] { return sim.output().contains(QLatin1String("unplugged")); }, 5000));
    QVERIFY(clock.elapsed() >= 500);
    QVERIFY(!QFileInfo(linkPath()).exists());
    QVERIFY(QFileInfo(linkPath()).isSymLink());
    QVERIFY(!line.write("#v;"));
    line.close();
    QVERIFY(!line.open(linkPath()));

    // Plugged in again under the same name, on a new line.
    QVERIFY(QTest::qWaitFor(
        [&] { return sim.output().contains(QLatin1String("plugged in again")); }, 15000));
    QVERIFY(QFileInfo(linkPath()).exists());
    QVERIFY(line.open(linkPath()));
    line.clear();
    QVERIFY(line.write("#v;"));
    QVERIFY(line.waitFor([&] { return line.received == QByteArray("M\x15"); }, 2000));
    QVERIFY(line.write("#o;"));
    QVERIFY(line.waitFor([&] { return line.received.contains("@a"); }, 2000));
    // Only once.
    QTest::qWait(1000);
    QCOMPARE(sim.output().count(QLatin1String("unplugged")), 1);
    QVERIFY(line.write("#c;"));
}

void TestSimulator::stopCommand_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::newRow("streaming") << QByteArray("#o;");
    QTest::newRow("download running") << QByteArray("#d;");
}

void TestSimulator::stopCommand()
{
    QFETCH(QByteArray, command);

    SimulatorProcess sim(*sandbox);
    QVERIFY2(sim.start({"--records", "400"}), qPrintable(sim.errors()));
    ProgramLine line;
    QVERIFY(line.open(linkPath()));
    QVERIFY(line.write(command));
    QVERIFY(line.waitFor([&] { return line.received.size() > 50; }, 2000));
    QVERIFY(line.write("#c;"));
    line.pump(300); // the message on the line at that moment may still end
    line.clear();
    line.pump(800);
    QCOMPARE(line.received, QByteArray());
    QVERIFY(sim.output().contains("#c;"));
}

void TestSimulator::pacedRate()
{
    // A loose look at the pace: 9600 baud with 8N2 framing carries 11 bits a
    // byte, about 873 bytes a second. The line is never faster; a busy
    // machine may hold the meter up, so slower only fails when it all but
    // stops.
    SimulatorProcess sim(*sandbox);
    QVERIFY2(sim.start({"--records", "1000"}), qPrintable(sim.errors()));
    ProgramLine line;
    QVERIFY(line.open(linkPath()));
    QVERIFY(line.write("#d;"));
    QVERIFY(line.waitFor([&] { return !line.received.isEmpty(); }, 2000));
    line.pump(500);
    const qsizetype before = line.received.size();
    QElapsedTimer clock;
    clock.start();
    line.pump(2000);
    const double rate = double(line.received.size() - before) * 1000.0 / double(clock.elapsed());
    qInfo("paced output: %.0f bytes a second", rate);
    QVERIFY2(rate > 87.0 && rate < 1100.0, QByteArray::number(rate));
}

void TestSimulator::commandsAsByteStream_data()
{
    QTest::addColumn<QList<QByteArray>>("writes");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("a command in three writes")
        << QList<QByteArray>{"#", "v", ";"} << QByteArray("M\x15");
    QTest::newRow("line noise first")
        << QList<QByteArray>{"\r\nx;@v", "#v;"} << QByteArray("M\x15");
    QTest::newRow("a repeated start") << QList<QByteArray>{"##", "v;"} << QByteArray("M\x15");
    QTest::newRow("unknown command first") << QList<QByteArray>{"#q;#v;"} << QByteArray("M\x15");
    QTest::newRow("no end character") << QList<QByteArray>{"#vx;"} << QByteArray();
    QTest::newRow("a command letter alone") << QList<QByteArray>{"v;"} << QByteArray();
}

void TestSimulator::commandsAsByteStream()
{
    QFETCH(QList<QByteArray>, writes);
    QFETCH(QByteArray, reply);

    SimulatorProcess sim(*sandbox);
    QVERIFY2(sim.start({"--full-speed"}), qPrintable(sim.errors()));
    ProgramLine line;
    QVERIFY(line.open(linkPath()));
    for (const QByteArray &bytes : writes) {
        QVERIFY(line.write(bytes));
        line.pump(30);
    }
    line.pump(300);
    QCOMPARE(line.received, reply);
}

void TestSimulator::probeWhileStreaming()
{
    // A program that ended without "#c;" left the meter streaming; the next
    // run's probe is answered between two messages, and the stream that
    // waited unread on the line, and the stream after the reply, stay.
    SimulatorProcess sim(*sandbox);
    QVERIFY2(sim.start({}), qPrintable(sim.errors()));
    ProgramLine line;
    QVERIFY(line.open(linkPath()));
    QVERIFY(line.write("#o;"));
    QVERIFY(line.waitFor([&] { return line.received.contains("@a"); }, 2000));
    line.close();
    QTest::qWait(600);

    line.clear();
    QVERIFY(line.open(linkPath()));
    QVERIFY(line.write("#v;"));
    QVERIFY(line.waitFor([&] { return line.received.contains("M\x15@"); }, 2000));
    const qsizetype reply = line.received.indexOf("M\x15@");
    QVERIFY2(reply > 0 && line.received.at(reply - 1) == ';', line.received.constData());
    const Stream before = Stream::parse(line.received.left(reply));
    QVERIFY(before.values('a').size() >= 2);
    QVERIFY(line.waitFor([&] { return line.received.indexOf("@s", reply) > 0; }, 10000));
}

void TestSimulator::nameTakenIsRefused_data()
{
    QTest::addColumn<QString>("holder");
    QTest::addColumn<QString>("message");
    QTest::newRow("another simulated meter") << "sim"
                                             << "another simulated meter";
    QTest::newRow("another program's pseudo-terminal") << "pty"
                                                       << "in use";
    QTest::newRow("a device") << "device"
                              << "in use";
}

void TestSimulator::nameTakenIsRefused()
{
    QFETCH(QString, holder);
    QFETCH(QString, message);

    const QString name = QStringLiteral("COM3");
    SimulatorProcess first(*sandbox);
    std::unique_ptr<PtyMeter> pty;
    if (holder == QLatin1String("sim")) {
        QVERIFY2(first.start({"--port", name, "--full-speed"}), qPrintable(first.errors()));
    } else if (holder == QLatin1String("pty")) {
        pty = std::make_unique<PtyMeter>(*sandbox, name);
        QVERIFY(pty->isValid());
    } else {
        // Only looked at, never opened.
        QVERIFY(sandbox->link(name, QStringLiteral("/dev/null")));
    }
    const QString target = linkTarget(name);

    SimulatorProcess second(*sandbox);
    QVERIFY(!second.start({"--port", name}));
    QVERIFY(second.waitForExit());
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QVERIFY(second.exitCode() != 0);
    QVERIFY2(second.errors().contains(name) && second.errors().contains(message),
             qPrintable(second.errors()));

    // The holder keeps its name, and a simulated meter still answers on it.
    QCOMPARE(linkTarget(name), target);
    if (holder == QLatin1String("sim")) {
        ProgramLine line;
        QVERIFY(line.open(linkPath(name)));
        QVERIFY(line.write("#v;"));
        QVERIFY(line.waitFor([&] { return line.received == "M\x15"; }, 2000));
    }
}

void TestSimulator::staleLinkIsReplaced()
{
    // The ports sandbox starts with dangling links on every name.
    QVERIFY(QFileInfo(linkPath()).isSymLink());
    QVERIFY(!QFileInfo::exists(linkPath()));

    SimulatorProcess killed(*sandbox);
    QVERIFY2(killed.start({"--full-speed"}), qPrintable(killed.errors()));
    const QString deadDevice = linkTarget();
    QVERIFY(deadDevice.startsWith(QLatin1String("/dev/")));
    killed.signal(SIGKILL); // no chance to clean up
    QVERIFY(killed.waitForExit());
    QVERIFY(QFileInfo(linkPath()).isSymLink());
    QVERIFY(QFileInfo::exists(linkPath() + ".pid"));

    SimulatorProcess next(*sandbox);
    QVERIFY2(next.start({"--full-speed"}), qPrintable(next.errors()));
    QVERIFY(QFileInfo::exists(linkPath()));
    ProgramLine line;
    QVERIFY(line.open(linkPath()));
    QVERIFY(line.write("#v;"));
    QVERIFY(line.waitFor([&] { return line.received == "M\x15"; }, 2000));
}

void TestSimulator::linkRemovedOnSignal_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT (Ctrl-C)") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void TestSimulator::linkRemovedOnSignal()
{
    QFETCH(int, signalNumber);

    SimulatorProcess sim(*sandbox);
    QVERIFY2(sim.start({"--port", "COM7"}), qPrintable(sim.errors()));
    ProgramLine line; // the program holds the line open meanwhile
    QVERIFY(line.open(linkPath("COM7")));
    QVERIFY(line.write("#o;"));
    QVERIFY(line.waitFor([&] { return !line.received.isEmpty(); }, 2000));

    sim.signal(signalNumber);
    QVERIFY(sim.waitForExit());
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo(linkPath("COM7")).isSymLink());
    QVERIFY(!QFileInfo::exists(linkPath("COM7") + ".pid"));
    QVERIFY(QFileInfo(linkPath("COM6")).isSymLink()); // the other names stay as they were
}

void TestSimulator::badOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("named");

    QTest::newRow("head 6") << QStringList{"--head", "6"} << "--head";
    QTest::newRow("a path for a port") << QStringList{"--port", "../COM1"} << "--port";
    QTest::newRow("16001 data sets") << QStringList{"--records", "16001"} << "--records";
    // "nan" would carry the type letter "a" into every status message.
    QTest::newRow("maximum level nan") << QStringList{"--max-level", "nan"} << "--max-level";
    QTest::newRow("unknown option") << QStringList{"--baud", "19200"} << "baud";
    QTest::newRow("stray argument") << QStringList{"COM2"} << "COM2";
    QTest::newRow("replug without unplug")
        << QStringList{"--replug-after", "1"} << "--unplug-after";
    QTest::newRow("unplug at once") << QStringList{"--unplug-after", "0"} << "--unplug-after";
}

void TestSimulator::badOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, named);

    const QString blocked = linkTarget();
    SimulatorProcess sim(*sandbox);
    QVERIFY(!sim.start(arguments));
    QVERIFY(sim.waitForExit());
    QVERIFY(sim.exitCode() != 0);
    QVERIFY2(sim.errors().contains(named), qPrintable(sim.errors()));
    QCOMPARE(linkTarget(), blocked);
    QCOMPARE(QDir(sandbox->portsDir()).entryList(QDir::Files | QDir::System).size(), 20);
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
