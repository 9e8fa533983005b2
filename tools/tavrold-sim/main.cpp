// tavrold-sim: a simulated power meter for Tavrolinde. It serves a
// pseudo-terminal linked as a COM name in the ports folder and plays the
// meter's side of the line, so that the program can be run and tested
// without hardware.

#include "downloadsession.h"
#include "identity.h"
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
#include <limits>
#include <memory>

namespace {

void printLine(std::FILE *stream, const QString &line)
{
    std::fputs(line.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

// What went wrong, on standard error under the simulator's name.
void printError(const QString &message)
{
    printLine(stderr, QStringLiteral("tavrold-sim: ") + message);
}

// A reader of an option's value into the settings: false for a bad value.
using Reader = std::function<bool(const QString &text, MeterSettings *settings)>;

// One option of the command line: how --help shows it and how its value
// fills the settings. An option without a default (a switch among them) is
// read only when it is given.
struct OptionRow
{
    QCommandLineOption option;
    QString expected; // what a bad value is told to be
    Reader read;
    QString needs = {}; // another option this one means nothing without
};

// The range in the message comes from the same numbers as the check.
OptionRow wholeNumber(QCommandLineOption option, int min, int max, int MeterSettings::*member)
{
    const Reader read = [=](const QString &text, MeterSettings *settings) {
        bool ok = false;
        const int number = text.toInt(&ok, 10);
        if (!ok || number < min || number > max)
            return false;
        settings->*member = number;
        return true;
    };
    return {std::move(option), QStringLiteral("%1 to %2").arg(min).arg(max), read};
}

// `expected` holds the range as %1 and %2.
OptionRow decimal(QCommandLineOption option, double min, double max, double MeterSettings::*member,
                  const QString &expected)
{
    const Reader read = [=](const QString &text, MeterSettings *settings) {
        bool ok = false;
        const double number = text.toDouble(&ok); // always '.'
        if (!ok || !std::isfinite(number) || number < min || number > max)
            return false;
        settings->*member = number;
        return true;
    };
    return {std::move(option), expected.arg(min).arg(max), read};
}

OptionRow switched(const char *name, const QString &help, bool MeterSettings::*member)
{
    const Reader read = [=](const QString &, MeterSettings *settings) {
        settings->*member = true;
        return true;
    };
    return {QCommandLineOption(QLatin1String(name), help), QString(), read};
}

// The row, with `other` as an option that must be given beside it.
OptionRow needing(const QString &other, OptionRow row)
{
    row.needs = other;
    return row;
}

// The simulator's options, one row each, in the order --help lists them and
// their values are checked.
struct OptionTable
{
    Q_DECLARE_TR_FUNCTIONS(OptionTable)

public:
    static QList<OptionRow> rows();
    // The settings from the command line, or a message naming the bad option.
    static bool readSettings(const QCommandLineParser &parser, const QList<OptionRow> &rows,
                             MeterSettings *settings, QString *error);

private:
    static QCommandLineOption valued(const char *name, const char *valueName,
                                     const char *defaultValue, QString help);
};

QCommandLineOption OptionTable::valued(const char *name, const char *valueName,
                                       const char *defaultValue, QString help)
{
    if (defaultValue)
        help += QLatin1Char(' ') + tr("Default: %1.").arg(QLatin1String(defaultValue));
    return QCommandLineOption(QLatin1String(name), help, QLatin1String(valueName),
                              QLatin1String(defaultValue));
}

QList<OptionRow> OptionTable::rows()
{
    const QString seconds = QStringLiteral("%1 to %2 seconds");
    const QString anyNumber = QStringLiteral("a number from %1 to %2");
    const quint32 maxSeed = std::numeric_limits<quint32>::max();
    return {
        {valued("port", "COMn", "COM1",
                tr("COM name to serve, COM1 to COM255 (the program searches COM1 to COM20).")),
         QStringLiteral("COM1 to COM255"),
         [](const QString &text, MeterSettings *settings) {
             settings->portName = text.toUpper();
             return PortScan::comNumber(settings->portName) != 0;
         }},
        wholeNumber(valued("firmware", "n", "21",
                           tr("Firmware number, the byte sent after \"M\" in answer to #v; (0 to "
                              "255; the program accepts 11 to 127).")),
                    0, 255, &MeterSettings::firmware),
        wholeNumber(valued("head", "code", "0",
                           tr("Detector-head code in the status message: 0 AD8362, 1 AD8362 NF, "
                              "2 AD8307, 3 AD8307 NF, 4 unknown, 5 AD8361 linear (1 and 3 are "
                              "audio heads, levels in dBV).")),
                    0, 5, &MeterSettings::head),
        wholeNumber(valued("number", "n", "1",
                           tr("The meter's number in the status message (0 to 99999).")),
                    0, 99999, &MeterSettings::number),
        decimal(
            valued("max-level", "dBm", "20.0", tr("Maximum level in dBm in the status message.")),
            -200.0, 200.0, &MeterSettings::maxLevel, anyNumber),
        decimal(valued("attenuator", "dB", "0.0",
                       tr("Attenuator setting in dB in the status message.")),
                -200.0, 200.0, &MeterSettings::attenuator, anyNumber),
        {valued("recording", "on|off", "off",
                tr("Whether the status message reports the recording function as running.")),
         QStringLiteral("on or off"),
         [](const QString &text, MeterSettings *settings) {
             const QString value = text.toLower();
             settings->recording = value == QLatin1String("on");
             return settings->recording || value == QLatin1String("off");
         }},
        decimal(valued("level", "dBm", "-20.0",
                       tr("RMS level the live readings drift around (PEP lies a few dB above), "
                          "also the centre of the recording.")),
                -100.0, 50.0, &MeterSettings::level, anyNumber),
        wholeNumber(valued("records", "n", "120",
                           tr("Number of recorded data sets that #d; sends, 0 to %1 (0: the "
                              "header alone, last index -1).")
                               .arg(DownloadSession::Capacity)),
                    0, DownloadSession::Capacity, &MeterSettings::records),
        wholeNumber(valued("interval", "seconds", "60",
                           tr("Recording interval in seconds that #d; announces, 1 to 86400.")),
                    1, 86400, &MeterSettings::interval),
        switched("full-speed",
                 tr("Send as fast as the line takes the bytes instead of the pace of a 9600-baud "
                    "8N2 line (about 873 bytes a second)."),
                 &MeterSettings::fullSpeed),
        switched("late-reply",
                 tr("Faulty meter: answer #v; only after 1500 ms, too late for the program's "
                    "probe."),
                 &MeterSettings::lateReply),
        switched("wrong-reply",
                 tr("Faulty meter: answer #v; with \"X\" instead of \"M\" (for a firmware number "
                    "the program refuses, use --firmware 10)."),
                 &MeterSettings::wrongReply),
        switched("noise", tr("Faulty line: random bytes (never \"@\" or \";\") between messages."),
                 &MeterSettings::noise),
        switched("split",
                 tr("Faulty line: every message is cut at random points and sent in separate "
                    "writes with short pauses."),
                 &MeterSettings::split),
        wholeNumber(valued("stall-after", "n", nullptr,
                           tr("Faulty meter: a download stops after n data sets (live messages "
                              "go on), as one that breaks off.")),
                    0, DownloadSession::Capacity, &MeterSettings::stallAfter),
        decimal(valued("unplug-after", "seconds", nullptr,
                       tr("Unplug the meter this many seconds after the program switched it to "
                          "streaming: its line closes and its COM name leads nowhere, as when the "
                          "cable is pulled.")),
                0.1, 86400.0, &MeterSettings::unplugAfter, seconds),
        needing(QStringLiteral("unplug-after"),
                decimal(valued("replug-after", "seconds", nullptr,
                               tr("With --unplug-after: plug it in again after this many "
                                  "seconds, on a new pseudo-terminal under the same COM name. "
                                  "Without it, it stays unplugged.")),
                        0.1, 86400.0, &MeterSettings::replugAfter, seconds)),
        {valued("seed", "n", nullptr,
                tr("Seed of the random numbers (readings, recording, faults), for a run that "
                   "repeats. Default: random.")),
         QStringLiteral("a whole number from 0 to %1").arg(maxSeed),
         [](const QString &text, MeterSettings *settings) {
             bool ok = false;
             settings->seed = text.toUInt(&ok, 10);
             settings->hasSeed = true;
             return ok;
         }},
    };
}

bool OptionTable::readSettings(const QCommandLineParser &parser, const QList<OptionRow> &rows,
                               MeterSettings *settings, QString *error)
{
    for (const OptionRow &row : rows) {
        const QString name = row.option.names().constFirst();
        if (!parser.isSet(name) && row.option.defaultValues().isEmpty())
            continue;
        if (!row.needs.isEmpty() && !parser.isSet(row.needs)) {
            *error = tr("--%1 needs --%2.").arg(name, row.needs);
            return false;
        }
        if (!row.read(parser.value(name), settings)) {
            *error = tr("Bad value \"%1\" for --%2: expected %3.")
                         .arg(parser.value(name), name, row.expected);
            return false;
        }
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
    QCoreApplication::setApplicationVersion(Identity::version());
    // The ports folder lies under the program's organisation and name, not
    // the simulator's: see PortScan::portsFolder().

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
            .arg(PortScan::portsFolder()));
    parser.addHelpOption();
    parser.addVersionOption();
    const QList<OptionRow> table = OptionTable::rows();
    for (const OptionRow &row : table)
        parser.addOption(row.option);
    if (!parser.parse(QCoreApplication::arguments())) {
        printError(parser.errorText());
        return 2;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty()) {
        printError(QCoreApplication::translate("main", "Unexpected argument \"%1\".")
                       .arg(parser.positionalArguments().constFirst()));
        return 2;
    }
    MeterSettings settings;
    QString error;
    if (!OptionTable::readSettings(parser, table, &settings, &error)) {
        printError(error);
        return 2;
    }

    // Signals are caught before the link exists, so that none can end the
    // process between placing the link and the event loop.
    SignalWatcher watcher({SIGINT, SIGTERM, SIGHUP});
    ::signal(SIGPIPE, SIG_IGN);

    PortLink link;
    if (!link.open(settings.portName, &error)) {
        printError(error);
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
                        printError(why);
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
