// tavrold-cli: Tavrolinde without a window. Finds the meter on COM1 to COM20
// as the window does, logs its live readings, and downloads its recording to
// the CSV file the window saves. Needs Qt Core alone, so it runs where there
// is no display (a Raspberry Pi, a cron job).

#include "cliarguments.h"
#include "console.h"
#include "downloadreader.h"
#include "downloadsession.h"
#include "exitcode.h"
#include "identity.h"
#include "livelog.h"
#include "meterconnection.h"
#include "protocol.h"
#include "readinghistory.h"
#ifdef TAVROLD_PUBLISH
#include "publish.h"
#endif
#include "recordformat.h"
#include "stopsignal.h"
#include "toolconnection.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>

#include <climits>
#include <cmath>
#include <cstdio>
#include <optional>

namespace {

// Writes data to standard output; *failed when no more can be written. A
// reader that has gone (`| head`) is no failure of the tool.
int writeData(const QByteArray &line, bool *failed = nullptr)
{
    bool brokenPipe = false;
    const bool written = Console::dataLine(line, &brokenPipe);
    if (failed)
        *failed = !written;
    if (written || brokenPipe)
        return ExitOk;
    Console::message(Cli::tr("Die Ausgabe konnte nicht geschrieben werden."));
    return ExitFileNotWritten;
}

// "probe": finds the meter and prints its port and firmware ("COM3 FW:2.xx").
int probe(const CliArguments &arguments)
{
    ToolConnection meter(arguments, false);
    if (!meter.find())
        return ExitNoMeter;
    return writeData((meter.meter().portName() + QLatin1Char(' ') +
                      Protocol::firmwareText(meter.meter().firmwareNumber()))
                         .toLatin1());
}

// "live": switches the meter to streaming and writes a line per reading and
// status until --duration or --count is reached, a stop signal comes or the
// meter goes away.
int live(const CliArguments &arguments)
{
    ToolConnection meter(arguments, true);
    if (!meter.find())
        return ExitNoMeter;
    MeterConnection &connection = meter.meter();

    LiveLog log(arguments.format);
    log.setCorrected(arguments.corrected);
    log.setLimited(arguments.limits.isSet());
    bool failed = false;
    int result = log.header().isEmpty() ? ExitOk : writeData(log.header(), &failed);
    QObject::connect(&connection, &MeterConnection::reading, &connection,
                     [&log](const MeterStream::Reading &r) { log.reading(r); });
    QObject::connect(&connection, &MeterConnection::statusReceived, &connection,
                     [&log](const MeterStream::Status &s) { log.status(s); });

    qint64 lines = 0;
    const auto enough = [&] { return failed || (arguments.count > 0 && lines >= arguments.count); };
    // The lines of a poll are written once it has decoded all it took in.
    QObject::connect(&connection, &MeterConnection::polled, &connection, [&] {
        for (const QByteArray &line : log.takeLines()) {
            if (enough())
                break;
            result =
                writeData(arguments.decimalComma ? Records::withDecimalComma(line) : line, &failed);
            lines += failed ? 0 : 1;
        }
        if (enough())
            meter.quit();
    });
    meter.setEndsWhenLost();
    QTimer duration;
    duration.setTimerType(Qt::PreciseTimer);
    duration.setSingleShot(true);
    QObject::connect(&duration, &QTimer::timeout, &connection, [&meter] { meter.quit(); });
    if (arguments.durationMs > 0)
        duration.start(int(qMin<qint64>(arguments.durationMs, INT_MAX)));
    if (!enough())
        meter.run();
    if (meter.wasLost())
        return result == ExitOk ? ExitNoMeter : result;
    return result;
}

// "check": takes --count results of the limited kind and prints one line
// with their minimum, maximum and power average; all inside the limits:
// ExitOk, any outside: ExitOutOfLimits. Ended before (the meter gone, a stop
// signal) without a result outside, it has no verdict: ExitNoMeter.
int check(const CliArguments &arguments)
{
    ToolConnection meter(arguments, true);
    if (!meter.find())
        return ExitNoMeter;
    MeterConnection &connection = meter.meter();
    const Protocol::LevelKind kind = arguments.limits.kind;
    ReadingHistory::StatisticsSum sum;
    const char *unit = "dBm";
    QObject::connect(
        &connection, &MeterConnection::reading, &connection, [&](const MeterStream::Reading &r) {
            if (r.kind != kind || sum.count() >= arguments.count || std::isnan(r.level))
                return;
            sum.add(r.level);
            unit = r.relative ? "dBr" : r.audioHead ? "dBV" : "dBm";
            if (sum.count() >= arguments.count)
                meter.quit();
        });
    meter.setEndsWhenLost();
    meter.run();
    const Limits &limits = connection.limits();
    const bool outside = limits.violationCount() > 0;
    const ReadingHistory::KindStatistics result = sum.result();
    const QString kindName = kind == Protocol::Pep ? QStringLiteral("PEP") : QStringLiteral("RMS");
    if (result.count == 0) {
        Console::message(Cli::tr("%1: kein Wert genommen.").arg(kindName));
        return ExitNoMeter;
    }
    const auto db = [](double level) { return QString::number(level, 'f', 2); };
    QString line = Cli::tr("%1: %2 Werte, min %3 %6, max %4 %6, Mittel %5 %6")
                       .arg(kindName, QString::number(result.count), db(result.minimum),
                            db(result.maximum), db(result.powerAverage), QLatin1String(unit));
    line += outside ? Cli::tr(", %1x ausserhalb: FEHLER").arg(limits.violationCount())
                    : Cli::tr(", innerhalb: OK");
    const int written = writeData(line.toUtf8());
    if (outside)
        return ExitOutOfLimits;
    if (result.count < arguments.count || meter.wasLost()) {
        Console::message(
            Cli::tr("Abgebrochen nach %1 von %2 Werten.").arg(result.count).arg(arguments.count));
        return ExitNoMeter;
    }
    return written;
}

// Standard output for "-", else the file, written as the window's
// "Speichern" writes it.
bool save(const QString &output, const QByteArray &bytes)
{
    QString error;
    if (output == QLatin1String("-")) {
        if (Console::rawData(bytes))
            return true;
        error = Cli::tr("Standardausgabe");
    } else if (Records::writeFile(output, bytes, &error)) {
        return true;
    }
    Console::message(Cli::tr("Datei %1 konnte nicht geschrieben werden: %2").arg(output, error));
    return false;
}

// "download": asks the meter for its recording and takes it by the window's
// rules; a complete one is written as the file the window's "Speichern"
// writes. One that breaks off (no data set for 5 s, the meter gone, a stop
// signal) writes nothing, unless --partial asks for what came.
int download(const CliArguments &arguments)
{
    const QFileInfo target(arguments.output);
    if (arguments.output != QLatin1String("-") && target.isDir()) {
        Console::message(Cli::tr("Datei %1 kann nicht geschrieben werden: %1 ist ein Ordner.")
                             .arg(arguments.output));
        return ExitFileNotWritten;
    }
    if (arguments.output != QLatin1String("-") && !target.exists() &&
        !QFileInfo(target.absolutePath()).isWritable()) {
        Console::message(Cli::tr("Datei %1 kann nicht geschrieben werden: kein Ordner, in den sie "
                                 "geschrieben werden kann.")
                             .arg(arguments.output));
        return ExitFileNotWritten;
    }

    ToolConnection meter(arguments, false);
    if (!meter.find())
        return ExitNoMeter;
    MeterConnection &connection = meter.meter();
    const DownloadSession &download = connection.download();
    DownloadReader reader(arguments, download);
    QObject::connect(&connection, &MeterConnection::downloadHeader, &connection,
                     [&reader](const QString &) { reader.update(); });
    QObject::connect(&connection, &MeterConnection::dataSet, &connection,
                     [&reader](const QString &text) { reader.dataSetTaken(text); });

    // The result is the store as the download ended, before anything after
    // its last data set can change it.
    struct Result
    {
        QByteArray csv;
        bool complete = false;
        QString count;
        QString progress;
        int intervalSec = 0;
    };
    std::optional<Result> result;
    const auto takeResult = [&] {
        result = Result{download.csvFile(arguments.start), download.isComplete(),
                        download.countText(), download.progressText(), download.recordIntervalSec};
    };
    QString why;
    QObject::connect(&connection, &MeterConnection::downloadEnded, &connection, [&] {
        if (result)
            return;
        takeResult();
        if (download.state() == DownloadSession::State::Stalled)
            why = Cli::tr("%1 s lang kam kein Datensatz.").arg(DownloadSession::StallMs / 1000);
        else if (download.state() == DownloadSession::State::Lost)
            why = Cli::tr("Verbindung zum Messgeraet an %1 verloren.").arg(connection.portName());
        meter.quit();
    });
    const qint64 startMs = connection.clockMs();
    const qint64 bytesBefore = connection.bytesRead();
    connection.requestDownload();
    if (!meter.run() && !result) {
        takeResult();
        why = Cli::tr("Abgebrochen.");
    }
    reader.finish();
    const qint64 bytesRead = connection.bytesRead() - bytesBefore;
    const double seconds = double(connection.clockMs() - startMs) / 1000.0;
    const QByteArray file =
        arguments.decimalComma ? Records::withDecimalComma(result->csv) : result->csv;
    const bool complete = result->complete;
    if (!complete) {
        Console::message(Cli::tr("Download unvollstaendig (%1): %2").arg(result->count, why));
        if (!arguments.partial) {
            Console::message(
                Cli::tr("Nichts gespeichert (--partial speichert, was gekommen ist)."));
            return ExitDownloadIncomplete;
        }
    } else if (!arguments.quiet) {
        Console::message(Cli::tr("%1, Zwischenzeit %2 Sek., %3 Bytes in %4 s")
                             .arg(result->progress)
                             .arg(result->intervalSec)
                             .arg(bytesRead)
                             .arg(seconds, 0, 'f', 3));
    }
    if (!save(arguments.output, file))
        return ExitFileNotWritten;
    if (!arguments.quiet)
        Console::message(
            (complete ? Cli::tr("Gespeichert: %1") : Cli::tr("Unvollstaendig gespeichert: %1"))
                .arg(arguments.output));
    return complete ? ExitOk : ExitDownloadIncomplete;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavrold-cli"));
    QCoreApplication::setApplicationVersion(Identity::version());

    CliArguments arguments;
    QString error;
    if (!parseArguments(QCoreApplication::arguments(), &arguments, &error)) {
        Console::message(error);
        Console::message(Cli::tr("Hilfe: tavrold-cli --help"));
        return ExitBadUsage;
    }
    StopSignal::install();
    switch (arguments.command) {
    case CliArguments::Command::Help:
        std::fputs(helpText().toLocal8Bit().constData(), stdout);
        return ExitOk;
    case CliArguments::Command::Version:
        std::fputs((versionText() + QLatin1Char('\n')).toLocal8Bit().constData(), stdout);
        return ExitOk;
    case CliArguments::Command::Probe:
        return probe(arguments);
    case CliArguments::Command::Live:
        return live(arguments);
    case CliArguments::Command::Download:
        return download(arguments);
    case CliArguments::Command::Check:
        return check(arguments);
#ifdef TAVROLD_PUBLISH
    case CliArguments::Command::Publish:
        return publish(arguments);
#endif
    default:
        return ExitBadUsage;
    }
}
