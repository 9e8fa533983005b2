// tavrold-cli: Tavrolinde without a window. Finds the meter on COM1 to COM20
// as the window does, logs its live readings, and downloads its recording to
// the CSV file the window saves. Needs Qt Core alone, so it runs where there
// is no display (a Raspberry Pi, a cron job).

#include "cliarguments.h"
#include "console.h"
#include "downloadreader.h"
#include "downloadsession.h"
#include "exitcode.h"
#include "livelog.h"
#include "metersession.h"
#include "protocol.h"
#ifdef TAVROLD_PUBLISH
#include "publish.h"
#endif
#include "recordformat.h"
#include "stopsignal.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cstdio>
#include <memory>

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
    MeterSession session(arguments);
    if (!session.connect())
        return ExitNoMeter;
    return writeData(
        (session.portName() + QLatin1Char(' ') + Protocol::firmwareText(session.firmwareNumber()))
            .toLatin1());
}

// "live": switches the meter to streaming and writes a line per reading and
// status until --duration or --count is reached, a stop signal comes or the
// meter goes away.
int live(const CliArguments &arguments)
{
    MeterSession session(arguments);
    if (!session.connect())
        return ExitNoMeter;

    LiveLog log(arguments.format);
    bool failed = false;
    int result = log.header().isEmpty() ? ExitOk : writeData(log.header(), &failed);
    session.send(Protocol::StreamCommand);

    const QDeadlineTimer deadline = arguments.durationMs > 0
                                        ? QDeadlineTimer(arguments.durationMs, Qt::PreciseTimer)
                                        : QDeadlineTimer(QDeadlineTimer::Forever);
    qint64 lines = 0;
    const auto enough = [&] { return failed || (arguments.count > 0 && lines >= arguments.count); };
    while (!enough() && !StopSignal::requested() && !deadline.hasExpired()) {
        const qint64 left = deadline.remainingTime();
        const int wait = left < 0 || left > StopSignal::SliceMs ? StopSignal::SliceMs : int(left);
        if (session.read(wait, log) == MeterSession::Read::Lost) {
            Console::message(
                Cli::tr("Verbindung zum Messgeraet an %1 verloren.").arg(session.portName()));
            return result == ExitOk ? ExitNoMeter : result;
        }
        for (const QByteArray &line : log.takeLines()) {
            if (enough())
                break;
            result =
                writeData(arguments.decimalComma ? Records::withDecimalComma(line) : line, &failed);
            lines += failed ? 0 : 1;
        }
    }
    return result;
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

    MeterSession session(arguments);
    if (!session.connect())
        return ExitNoMeter;

    // 2 x 16000 values: not on the stack.
    const auto result = std::make_unique<DownloadSession>();
    DownloadSession &download = *result;
    DownloadReader reader(arguments, download);
    const QElapsedTimer &clock = reader.clock;

    session.send(Protocol::DownloadCommand);
    download.start(true, clock.elapsed());
    qint64 bytesRead = 0;
    QString why;
    while (!download.isComplete() && why.isEmpty()) {
        if (StopSignal::requested()) {
            why = Cli::tr("Abgebrochen.");
        } else if (download.checkStall(clock.elapsed())) {
            why = Cli::tr("%1 s lang kam kein Datensatz.").arg(DownloadSession::StallMs / 1000);
        } else if (session.read(StopSignal::SliceMs, reader, &bytesRead) ==
                   MeterSession::Read::Lost) {
            download.lose();
            why = Cli::tr("Verbindung zum Messgeraet an %1 verloren.").arg(session.portName());
        }
    }
    reader.finish();
    const QByteArray csv = download.csvFile(arguments.start);
    const QByteArray file = arguments.decimalComma ? Records::withDecimalComma(csv) : csv;
    const bool complete = download.isComplete();
    if (!complete) {
        Console::message(
            Cli::tr("Download unvollstaendig (%1): %2").arg(download.countText(), why));
        if (!arguments.partial) {
            Console::message(
                Cli::tr("Nichts gespeichert (--partial speichert, was gekommen ist)."));
            return ExitDownloadIncomplete;
        }
    } else if (!arguments.quiet) {
        Console::message(Cli::tr("%1, Zwischenzeit %2 Sek., %3 Bytes in %4 s")
                             .arg(download.progressText())
                             .arg(download.recordIntervalSec)
                             .arg(bytesRead)
                             .arg(double(clock.elapsed()) / 1000.0, 0, 'f', 3));
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
    QCoreApplication::setApplicationVersion(QStringLiteral("2.00"));

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
#ifdef TAVROLD_PUBLISH
    case CliArguments::Command::Publish:
        return publish(arguments);
#endif
    default:
        return ExitBadUsage;
    }
}
