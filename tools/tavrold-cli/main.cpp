// tavrold-cli: Tavrolinde without a window. Finds the meter on COM1 to COM20
// as the window does, logs its live readings, and downloads its recording to
// the CSV file the window saves. Needs Qt Core alone, so it runs where there
// is no display (a Raspberry Pi, a cron job).

#include "cliarguments.h"
#include "console.h"
#include "downloadsession.h"
#include "exitcode.h"
#include "livelog.h"
#include "metersession.h"
#include "meterstream.h"
#include "protocol.h"
#include "recordformat.h"
#include "stopsignal.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cstdio>
#include <memory>

namespace {

// The commands, with the tool's texts in one translation context.
class Tool
{
    Q_DECLARE_TR_FUNCTIONS(TavroldCli)

public:
    static int probe(const CliArguments &arguments);
    static int live(const CliArguments &arguments);
    static int download(const CliArguments &arguments);

private:
    class Progress;
    enum class Read { Bytes, Quiet, Lost };
    static Read readStream(Modem &modem, MeterStream &stream, int waitMs,
                           MeterStream::Receiver &receiver, qint64 *bytesRead = nullptr);
    static int writeData(const QByteArray &line, bool *failed = nullptr);
    static bool save(const QString &output, const QByteArray &bytes);
};

// Writes data to standard output; a reader that has gone (`| head`) is no
// failure.
int Tool::writeData(const QByteArray &line, bool *failed)
{
    bool brokenPipe = false;
    if (Console::dataLine(line, &brokenPipe) || brokenPipe) {
        if (failed)
            *failed = brokenPipe;
        return ExitOk;
    }
    if (failed)
        *failed = true;
    Console::message(tr("Die Ausgabe konnte nicht geschrieben werden."));
    return ExitFileNotWritten;
}

// "probe": finds the meter and prints its port and firmware ("COM3 FW:2.xx").
int Tool::probe(const CliArguments &arguments)
{
    MeterSession session(arguments);
    if (!session.connect())
        return ExitNoMeter;
    return writeData(
        (session.portName() + QLatin1Char(' ') + Protocol::firmwareText(session.firmwareNumber()))
            .toLatin1());
}

// Waits up to waitMs for bytes without using the processor meanwhile, takes
// in all that have come and decodes them: Bytes when some came, Quiet when
// none came in time, Lost when the device has gone.
Tool::Read Tool::readStream(Modem &modem, MeterStream &stream, int waitMs,
                            MeterStream::Receiver &receiver, qint64 *bytesRead)
{
    if (!modem.waitForReadyRead(waitMs))
        return modem.deviceLost() ? Read::Lost : Read::Quiet;
    // A full-speed line delivers some kilobytes between two wake-ups; at
    // 9600 baud a wake-up brings a message or two.
    char buffer[8192];
    const int count = modem.readBytes(buffer, int(sizeof buffer));
    if (count <= 0)
        return modem.deviceLost() ? Read::Lost : Read::Quiet;
    if (bytesRead)
        *bytesRead += count;
    stream.feed(buffer, count, receiver);
    return Read::Bytes;
}

// "live": switches the meter to streaming and writes a line per reading and
// status until --duration or --count is reached, a stop signal comes or the
// meter goes away.
int Tool::live(const CliArguments &arguments)
{
    MeterSession session(arguments);
    if (!session.connect())
        return ExitNoMeter;

    // The log's lines, as long as more are wanted and the output takes them.
    class LogWriter : public MeterStream::Receiver
    {
    public:
        LogWriter(const CliArguments &arguments)
            : log(arguments.format == CliArguments::Format::JsonLines ? LiveLog::Format::JsonLines
                                                                      : LiveLog::Format::Csv),
              count(arguments.count)
        {
            if (!log.header().isEmpty())
                result = writeData(log.header(), &failed);
        }
        bool enough() const { return failed || (count > 0 && lines >= count); }
        void reading(const MeterStream::Reading &reading) override
        {
            if (!enough())
                write(log.readingLine(reading, QDateTime::currentDateTime()));
        }
        void status(const MeterStream::Status &status) override
        {
            if (!enough())
                write(log.statusLine(status, QDateTime::currentDateTime()));
        }
        int result = ExitOk;

    private:
        void write(const QByteArray &line)
        {
            result = writeData(line, &failed);
            lines += failed ? 0 : 1;
        }
        LiveLog log;
        qint64 count;
        qint64 lines = 0;
        bool failed = false;
    };

    LogWriter writer(arguments);
    session.channel().writeString(QString::fromLatin1(Protocol::StreamCommand));

    const QDeadlineTimer deadline = arguments.durationMs > 0
                                        ? QDeadlineTimer(arguments.durationMs, Qt::PreciseTimer)
                                        : QDeadlineTimer(QDeadlineTimer::Forever);
    MeterStream stream;
    while (!writer.enough() && !StopSignal::requested() && !deadline.hasExpired()) {
        const qint64 left = deadline.remainingTime();
        const int wait = left < 0 || left > StopSignal::SliceMs ? StopSignal::SliceMs : int(left);
        if (readStream(session.channel(), stream, wait, writer) == Read::Lost) {
            Console::message(
                tr("Verbindung zum Messgeraet an %1 verloren.").arg(session.portName()));
            return writer.result == ExitOk ? ExitNoMeter : writer.result;
        }
    }
    return writer.result;
}

// Standard output for "-", else the file, written as the window's
// "Speichern" writes it.
bool Tool::save(const QString &output, const QByteArray &bytes)
{
    QString error;
    if (output == QLatin1String("-")) {
        if (Console::rawData(bytes))
            return true;
        error = tr("Standardausgabe");
    } else if (Records::writeFile(output, bytes, &error)) {
        return true;
    }
    Console::message(tr("Datei %1 konnte nicht geschrieben werden: %2").arg(output, error));
    return false;
}

// How far a download has come, on standard error: on a terminal a bar that
// redraws its line, with the time the rest takes on the line at the bytes a
// data set has taken so far; in a log a line at every
// further tenth.
class Tool::Progress
{
public:
    explicit Progress(const CliArguments &arguments)
        : shown(!arguments.quiet), redraw(Console::isTerminal(stderr))
    {
    }
    void update(const DownloadSession &download, qint64 dataSetBytes)
    {
        if (!shown || !download.headerSeen())
            return;
        const qint64 all = download.announced();
        const qint64 got = download.received();
        if (redraw) {
            if (sinceDrawn.isValid() && sinceDrawn.elapsed() < 100 && download.isRunning())
                return;
            sinceDrawn.start();
            const int filled = all > 0 ? int(qMin<qint64>(30, got * 30 / all)) : 30;
            const qint64 secondsLeft = got > 0 ? (all - got) * dataSetBytes *
                                                     Protocol::LineBitsPerByte / got /
                                                     Protocol::LineBaud
                                               : 0;
            Console::progress(QStringLiteral("\r[") + QString(filled, QLatin1Char('#')) +
                              QString(30 - filled, QLatin1Char('-')) + QStringLiteral("] ") +
                              download.progressText() +
                              tr(", noch %1:%2")
                                  .arg(secondsLeft / 60)
                                  .arg(secondsLeft % 60, 2, 10, QLatin1Char('0')) +
                              QStringLiteral("\033[K"));
            return;
        }
        const int tenths = all > 0 ? int(qMin<qint64>(10, got * 10 / all)) : 10;
        if (tenths > tenthsShown && download.isRunning())
            Console::message(download.progressText());
        tenthsShown = qMax(tenths, tenthsShown);
    }
    void finish()
    {
        if (redraw && sinceDrawn.isValid())
            Console::progress(QStringLiteral("\n"));
    }

private:
    bool shown;
    bool redraw;
    int tenthsShown = 0;
    QElapsedTimer sinceDrawn;
};

// "download": asks the meter for its recording and takes it by the window's
// rules; a complete one is written as the file the window's "Speichern"
// writes. One that breaks off (no data set for 5 s, the meter gone, a stop
// signal) writes nothing, unless --partial asks for what came.
int Tool::download(const CliArguments &arguments)
{
    const QFileInfo target(arguments.output);
    if (arguments.output != QLatin1String("-") && target.isDir()) {
        Console::message(
            tr("Datei %1 kann nicht geschrieben werden: %1 ist ein Ordner.").arg(arguments.output));
        return ExitFileNotWritten;
    }
    if (arguments.output != QLatin1String("-") && !target.exists() &&
        !QFileInfo(target.absolutePath()).isWritable()) {
        Console::message(tr("Datei %1 kann nicht geschrieben werden: kein Ordner, in den sie "
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
    QElapsedTimer clock;
    clock.start();
    // The download's messages; live readings of a meter that still streams
    // are passed over.
    class Taker : public MeterStream::Receiver
    {
    public:
        Taker(DownloadSession &download, const QElapsedTimer &clock, Progress &progress)
            : download(download), clock(clock), progress(progress)
        {
        }
        void downloadHeader(const QString &text) override
        {
            if (!download.isComplete()) {
                download.takeHeader(text, clock.elapsed());
                progress.update(download, dataSetBytes);
            }
        }
        void dataSet(const QString &text) override
        {
            if (!download.isComplete()) {
                download.takeDataSet(text, clock.elapsed(), [] {});
                dataSetBytes += text.size() + 3; // on the line: '@', type letter, text, ';'
                progress.update(download, dataSetBytes);
            }
        }

    private:
        DownloadSession &download;
        const QElapsedTimer &clock;
        Progress &progress;
        qint64 dataSetBytes = 0;
    };
    Progress progress(arguments);
    Taker taker(download, clock, progress);

    session.channel().writeString(QString::fromLatin1(Protocol::DownloadCommand));
    download.start(true, clock.elapsed());
    MeterStream stream;
    qint64 bytesRead = 0;
    QString why;
    while (!download.isComplete()) {
        if (StopSignal::requested()) {
            why = tr("Abgebrochen.");
        } else if (download.checkStall(clock.elapsed())) {
            why = tr("%1 s lang kam kein Datensatz.").arg(DownloadSession::StallMs / 1000);
        } else if (readStream(session.channel(), stream, StopSignal::SliceMs, taker, &bytesRead) ==
                   Read::Lost) {
            download.lose();
            why = tr("Verbindung zum Messgeraet an %1 verloren.").arg(session.portName());
        }
        if (!why.isEmpty())
            break;
    }
    progress.finish();
    const QByteArray file = download.csvFile(arguments.start);
    if (!download.isComplete()) {
        Console::message(tr("Download unvollstaendig (%1): %2").arg(download.countText(), why));
        if (!arguments.partial) {
            Console::message(tr("Nichts gespeichert (--partial speichert, was gekommen ist)."));
            return ExitDownloadIncomplete;
        }
        if (!save(arguments.output, file))
            return ExitFileNotWritten;
        if (!arguments.quiet)
            Console::message(tr("Unvollstaendig gespeichert: %1").arg(arguments.output));
        return ExitDownloadIncomplete;
    }
    if (!arguments.quiet)
        Console::message(tr("%1, Zwischenzeit %2 Sek., %3 Bytes in %4 s")
                             .arg(download.progressText())
                             .arg(download.recordIntervalSec)
                             .arg(bytesRead)
                             .arg(double(clock.elapsed()) / 1000.0, 0, 'f', 3));
    if (!save(arguments.output, file))
        return ExitFileNotWritten;
    if (!arguments.quiet)
        Console::message(tr("Gespeichert: %1").arg(arguments.output));
    return ExitOk;
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
        Console::message(Tool::tr("Hilfe: tavrold-cli --help"));
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
        return Tool::probe(arguments);
    case CliArguments::Command::Live:
        return Tool::live(arguments);
    case CliArguments::Command::Download:
        return Tool::download(arguments);
    default:
        return ExitBadUsage;
    }
}
