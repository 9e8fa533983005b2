// tavrold-sim: a simulated power meter for Tavrolinde. It serves a
// pseudo-terminal linked as a COM name in the ports folder and plays the
// meter's side of the line, so that the program can be run and tested
// without hardware.

#include "downloadsession.h"
#include "metersettings.h"
#include "portlink.h"
#include "portscan.h"
#include "signalwatcher.h"
#include "simulatedmeter.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRandomGenerator>
#include <QTime>
#include <QTimer>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

void printLine(std::FILE *stream, const QString &line)
{
    std::fputs(line.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

struct Options
{
    QCommandLineOption port{
        QStringLiteral("port"),
        QCoreApplication::translate("main", "COM name to serve, COM1 to COM255 (the program "
                                            "searches COM1 to COM20). Default: COM1."),
        QStringLiteral("COMn"), QStringLiteral("COM1")};
    QCommandLineOption firmware{
        QStringLiteral("firmware"),
        QCoreApplication::translate("main", "Firmware number, the byte sent after \"M\" in "
                                            "answer to #v; (0 to 255; the program accepts 11 "
                                            "to 127). Default: 21."),
        QStringLiteral("n"), QStringLiteral("21")};
    QCommandLineOption head{
        QStringLiteral("head"),
        QCoreApplication::translate("main", "Detector-head code in the status message: 0 AD8362, "
                                            "1 AD8362 NF, 2 AD8307, 3 AD8307 NF, 4 unknown, "
                                            "5 AD8361 linear (1 and 3 are audio heads, levels in "
                                            "dBV). Default: 0."),
        QStringLiteral("code"), QStringLiteral("0")};
    QCommandLineOption number{
        QStringLiteral("number"),
        QCoreApplication::translate("main", "The meter's number in the status message (0 to "
                                            "99999). Default: 1."),
        QStringLiteral("n"), QStringLiteral("1")};
    QCommandLineOption maxLevel{
        QStringLiteral("max-level"),
        QCoreApplication::translate("main", "Maximum level in dBm in the status message. "
                                            "Default: 20.0."),
        QStringLiteral("dBm"), QStringLiteral("20.0")};
    QCommandLineOption attenuator{
        QStringLiteral("attenuator"),
        QCoreApplication::translate("main", "Attenuator setting in dB in the status message. "
                                            "Default: 0.0."),
        QStringLiteral("dB"), QStringLiteral("0.0")};
    QCommandLineOption recording{
        QStringLiteral("recording"),
        QCoreApplication::translate("main", "Whether the status message reports the "
                                            "recording function as running. Default: off."),
        QStringLiteral("on|off"), QStringLiteral("off")};
    QCommandLineOption level{
        QStringLiteral("level"),
        QCoreApplication::translate("main", "RMS level the live readings drift around (PEP lies a "
                                            "few dB above), also the centre of the recording. "
                                            "Default: -20.0."),
        QStringLiteral("dBm"), QStringLiteral("-20.0")};
    QCommandLineOption records{QStringLiteral("records"),
                               QCoreApplication::translate(
                                   "main", "Number of recorded data sets that #d; sends, 0 to "
                                           "%1 (0: the header alone, last index -1). Default: 120.")
                                   .arg(DownloadSession::Capacity),
                               QStringLiteral("n"), QStringLiteral("120")};
    QCommandLineOption interval{
        QStringLiteral("interval"),
        QCoreApplication::translate("main", "Recording interval in seconds that #d; announces, "
                                            "1 to 86400. Default: 60."),
        QStringLiteral("seconds"), QStringLiteral("60")};
    QCommandLineOption fullSpeed{
        QStringLiteral("full-speed"),
        QCoreApplication::translate("main", "Send as fast as the line takes the bytes instead "
                                            "of the pace of a 9600-baud 8N2 line (about 873 "
                                            "bytes a second).")};
    QCommandLineOption lateReply{
        QStringLiteral("late-reply"),
        QCoreApplication::translate("main", "Faulty meter: answer #v; only after 1500 ms, too "
                                            "late for the program's probe.")};
    QCommandLineOption wrongReply{
        QStringLiteral("wrong-reply"),
        QCoreApplication::translate("main", "Faulty meter: answer #v; with \"X\" instead of "
                                            "\"M\" (for a firmware number the program "
                                            "refuses, use --firmware 10).")};
    QCommandLineOption noise{
        QStringLiteral("noise"),
        QCoreApplication::translate("main", "Faulty line: random bytes (never \"@\" or \";\") "
                                            "between messages.")};
    QCommandLineOption split{
        QStringLiteral("split"),
        QCoreApplication::translate("main", "Faulty line: every message is cut at random points "
                                            "and sent in separate writes with short pauses.")};
    QCommandLineOption stallAfter{
        QStringLiteral("stall-after"),
        QCoreApplication::translate("main", "Faulty meter: a download stops after n data sets "
                                            "(live messages go on), as one that breaks off."),
        QStringLiteral("n")};
    QCommandLineOption unplugAfter{
        QStringLiteral("unplug-after"),
        QCoreApplication::translate("main", "Unplug the meter this many seconds after the "
                                            "program switched it to streaming: its line closes "
                                            "and its COM name leads nowhere, as when the cable "
                                            "is pulled."),
        QStringLiteral("seconds")};
    QCommandLineOption replugAfter{
        QStringLiteral("replug-after"),
        QCoreApplication::translate("main", "With --unplug-after: plug it in again after this "
                                            "many seconds, on a new pseudo-terminal under the "
                                            "same COM name. Without it, it stays unplugged."),
        QStringLiteral("seconds")};
    QCommandLineOption seed{
        QStringLiteral("seed"),
        QCoreApplication::translate("main", "Seed of the random numbers (readings, recording, "
                                            "faults), for a run that repeats. Default: random."),
        QStringLiteral("n")};

    QList<QCommandLineOption> all() const
    {
        return {port,  firmware,   head,        number,      maxLevel,  attenuator, recording,
                level, records,    interval,    fullSpeed,   lateReply, wrongReply, noise,
                split, stallAfter, unplugAfter, replugAfter, seed};
    }
};

bool readInt(const QString &text, int min, int max, int *value)
{
    bool ok = false;
    const int number = text.toInt(&ok, 10);
    if (!ok || number < min || number > max)
        return false;
    *value = number;
    return true;
}

bool readDouble(const QString &text, double min, double max, double *value)
{
    bool ok = false;
    const double number = text.toDouble(&ok); // always '.'
    if (!ok || !std::isfinite(number) || number < min || number > max)
        return false;
    *value = number;
    return true;
}

// The settings from the command line, or a message naming the bad option.
bool readSettings(const QCommandLineParser &parser, const Options &o, MeterSettings *s,
                  QString *error)
{
    const auto bad = [&](const QCommandLineOption &option, const QString &expected) {
        *error = QCoreApplication::translate("main", "Bad value \"%1\" for --%2: expected %3.")
                     .arg(parser.value(option), option.names().constFirst(), expected);
        return false;
    };

    s->portName = parser.value(o.port).toUpper();
    if (PortScan::comNumber(s->portName) == 0)
        return bad(o.port, QStringLiteral("COM1 to COM255"));
    if (!readInt(parser.value(o.firmware), 0, 255, &s->firmware))
        return bad(o.firmware, QStringLiteral("0 to 255"));
    if (!readInt(parser.value(o.head), 0, 5, &s->head))
        return bad(o.head, QStringLiteral("0 to 5"));
    if (!readInt(parser.value(o.number), 0, 99999, &s->number))
        return bad(o.number, QStringLiteral("0 to 99999"));
    if (!readDouble(parser.value(o.maxLevel), -200.0, 200.0, &s->maxLevel))
        return bad(o.maxLevel, QStringLiteral("a number from -200 to 200"));
    if (!readDouble(parser.value(o.attenuator), -200.0, 200.0, &s->attenuator))
        return bad(o.attenuator, QStringLiteral("a number from -200 to 200"));
    const QString recording = parser.value(o.recording).toLower();
    if (recording != QLatin1String("on") && recording != QLatin1String("off"))
        return bad(o.recording, QStringLiteral("on or off"));
    s->recording = recording == QLatin1String("on");
    if (!readDouble(parser.value(o.level), -100.0, 50.0, &s->level))
        return bad(o.level, QStringLiteral("a number from -100 to 50"));
    if (!readInt(parser.value(o.records), 0, DownloadSession::Capacity, &s->records))
        return bad(o.records, QStringLiteral("0 to %1").arg(DownloadSession::Capacity));
    if (!readInt(parser.value(o.interval), 1, 86400, &s->interval))
        return bad(o.interval, QStringLiteral("1 to 86400"));
    s->fullSpeed = parser.isSet(o.fullSpeed);
    s->lateReply = parser.isSet(o.lateReply);
    s->wrongReply = parser.isSet(o.wrongReply);
    s->noise = parser.isSet(o.noise);
    s->split = parser.isSet(o.split);
    if (parser.isSet(o.stallAfter) &&
        !readInt(parser.value(o.stallAfter), 0, DownloadSession::Capacity, &s->stallAfter))
        return bad(o.stallAfter, QStringLiteral("0 to %1").arg(DownloadSession::Capacity));
    if (parser.isSet(o.unplugAfter) &&
        !readDouble(parser.value(o.unplugAfter), 0.1, 86400.0, &s->unplugAfter))
        return bad(o.unplugAfter, QStringLiteral("0.1 to 86400 seconds"));
    if (parser.isSet(o.replugAfter)) {
        if (!parser.isSet(o.unplugAfter)) {
            *error = QCoreApplication::translate("main", "--replug-after needs --unplug-after.");
            return false;
        }
        if (!readDouble(parser.value(o.replugAfter), 0.1, 86400.0, &s->replugAfter))
            return bad(o.replugAfter, QStringLiteral("0.1 to 86400 seconds"));
    }
    s->hasSeed = parser.isSet(o.seed);
    if (s->hasSeed) {
        bool ok = false;
        s->seed = parser.value(o.seed).toUInt(&ok, 10);
        if (!ok)
            return bad(o.seed, QStringLiteral("a whole number from 0 to 4294967295"));
    }
    return true;
}

QString signalName(int signalNumber)
{
    switch (signalNumber) {
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    default:
        return QStringLiteral("signal %1").arg(signalNumber);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavrold-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.00"));
    // The ports folder lies under the program's organisation and name, not
    // the simulator's: see PortLink::portsDir().

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QCoreApplication::translate(
            "main",
            "Simulated power meter for Tavrolinde. Serves a pseudo-terminal linked as a COM name "
            "in the ports folder (%1) and answers the program's commands as the meter does:\n"
            "  #v;  \"M\" and the firmware number, between two messages; streaming and a\n"
            "       download go on, and what waits unread on the line stays there\n"
            "  #o;  RMS and PEP levels five times a second, a status message once a second\n"
            "  #d;  a download header and the recorded data sets, in recording order\n"
            "  #c;  stops sending\n"
            "Each command received is printed on a line of its own. Ctrl-C, SIGTERM or SIGHUP "
            "end the simulator and remove its link.")
            .arg(PortLink::portsDir()));
    parser.addHelpOption();
    parser.addVersionOption();
    const Options options;
    parser.addOptions(options.all());
    if (!parser.parse(QCoreApplication::arguments())) {
        printLine(stderr, QStringLiteral("tavrold-sim: ") + parser.errorText());
        return 2;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty()) {
        printLine(stderr, QStringLiteral("tavrold-sim: ") +
                              QCoreApplication::translate("main", "Unexpected argument \"%1\".")
                                  .arg(parser.positionalArguments().constFirst()));
        return 2;
    }
    MeterSettings settings;
    QString error;
    if (!readSettings(parser, options, &settings, &error)) {
        printLine(stderr, QStringLiteral("tavrold-sim: ") + error);
        return 2;
    }

    // Signals are caught before the link exists, so that none can end the
    // process between placing the link and the event loop.
    SignalWatcher watcher({SIGINT, SIGTERM, SIGHUP});
    ::signal(SIGPIPE, SIG_IGN);

    PortLink link;
    if (!link.open(settings.portName, &error)) {
        printLine(stderr, QStringLiteral("tavrold-sim: ") + error);
        return 1;
    }

    // A meter that is plugged in again keeps the recording in its memory.
    if (!settings.hasSeed) {
        settings.hasSeed = true;
        settings.seed = QRandomGenerator::global()->generate();
    }
    const auto report = [](const QString &line) {
        printLine(stdout, QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz ")) + line);
    };
    std::unique_ptr<SimulatedMeter> meter;
    bool unplugged = false;
    std::function<void()> plugIn = [&] {
        meter = std::make_unique<SimulatedMeter>(link.masterFd(), settings);
        QObject::connect(meter.get(), &SimulatedMeter::report, report);
        if (settings.unplugAfter < 0 || unplugged)
            return;
        // Unplugged once, the given time after streaming began.
        QObject::connect(meter.get(), &SimulatedMeter::streamingStarted, &app, [&] {
            if (unplugged)
                return;
            unplugged = true;
            QTimer::singleShot(int(settings.unplugAfter * 1000), &app, [&] {
                meter.reset();
                link.unplug();
                report(QCoreApplication::translate("main", "unplugged: the line is closed and "
                                                           "%1 leads nowhere")
                           .arg(settings.portName));
                if (settings.replugAfter < 0)
                    return;
                QTimer::singleShot(int(settings.replugAfter * 1000), &app, [&] {
                    QString why;
                    if (!link.replug(&why)) {
                        printLine(stderr, QStringLiteral("tavrold-sim: ") + why);
                        QCoreApplication::exit(1);
                        return;
                    }
                    plugIn();
                    report(QCoreApplication::translate("main", "plugged in again on %1 (%2)")
                               .arg(settings.portName, link.devicePath()));
                });
            });
        });
    };
    plugIn();
    QObject::connect(&watcher, &SignalWatcher::signalReceived, &app, [](int signalNumber) {
        printLine(stdout,
                  QStringLiteral("tavrold-sim: %1, stopping").arg(signalName(signalNumber)));
        QCoreApplication::quit();
    });

    printLine(stdout,
              QCoreApplication::translate("main", "tavrold-sim: listening on %1 (%2, linked from "
                                                  "%3); firmware %4, head %5, %6 data sets "
                                                  "every %7 s, %8")
                  .arg(settings.portName, link.devicePath(), link.linkPath())
                  .arg(settings.firmware)
                  .arg(settings.head)
                  .arg(settings.records)
                  .arg(settings.interval)
                  .arg(settings.fullSpeed ? QStringLiteral("full speed")
                                          : QStringLiteral("paced as 9600 baud 8N2")));

    const int result = QCoreApplication::exec();
    meter.reset();
    link.close();
    printLine(stdout, QCoreApplication::translate("main", "tavrold-sim: %1 removed, meter off")
                          .arg(settings.portName));
    return result;
}
