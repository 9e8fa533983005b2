#include "downloadcommand.h"

#include "cliarguments.h"
#include "console.h"
#include "exitcode.h"
#include "messagestream.h"
#include "metersession.h"
#include "progressreport.h"
#include "protocol.h"
#include "recorddownload.h"
#include "recordformat.h"
#include "stopsignal.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSaveFile>

namespace {

ProgressReport::Style progressStyle(const CliArguments &arguments)
{
    if (arguments.quiet)
        return ProgressReport::Style::Silent;
    return Console::isTerminal(stderr) ? ProgressReport::Style::Bar : ProgressReport::Style::Lines;
}

// A message's bytes on the line: '@', the type letter, the text, ';'.
qint64 lineBytes(const QString &messageText)
{
    return messageText.size() + 3;
}

} // namespace

bool DownloadCommand::canWrite(const QString &fileName, QString *reason)
{
    const QFileInfo info(fileName);
    if (info.isDir()) {
        *reason = tr("%1 ist ein Ordner.").arg(fileName);
        return false;
    }
    // The same kind of file the real write uses, opened and dropped again:
    // the folder must take a new file, an existing file must be replaceable.
    QSaveFile probe(fileName);
    if (!probe.open(QIODevice::WriteOnly)) {
        *reason = probe.errorString();
        return false;
    }
    probe.cancelWriting();
    return true;
}

int DownloadCommand::run(const CliArguments &arguments)
{
    QString reason;
    if (!canWrite(arguments.output, &reason)) {
        Console::message(
            tr("Datei %1 kann nicht geschrieben werden: %2").arg(arguments.output, reason));
        return ExitFileNotWritten;
    }

    MeterSession session(arguments);
    if (!session.connect())
        return ExitNoMeter;

    RecordDownload download;
    ProgressReport progress(progressStyle(arguments));
    qint64 dataSetBytes = 0;
    QDeadlineTimer stall(StallMs);
    const MessageStream::Handler onMessage = [&](int type, const QString &text) {
        if (download.isComplete())
            return;
        if (type == Protocol::DownloadHeader) {
            download.takeHeader(text);
        } else if (type == Protocol::DataSet) {
            download.takeDataSet(text);
            dataSetBytes += lineBytes(text);
        } else {
            return; // live readings of a meter that still streams
        }
        stall.setRemainingTime(StallMs);
        progress.update(download.received(), download.announced(), dataSetBytes);
    };

    session.channel().writeString(QString::fromLatin1(Protocol::DownloadCommand));
    QElapsedTimer clock;
    clock.start();
    MessageStream stream(session.channel());
    QString why;
    while (!download.isComplete()) {
        if (StopSignal::requested()) {
            why = tr("Abgebrochen.");
            break;
        }
        if (stall.hasExpired()) {
            why = tr("%1 s lang kam kein Datensatz.").arg(StallMs / 1000);
            break;
        }
        if (stream.readFor(StopSignal::SliceMs, onMessage) == MessageStream::Read::Lost) {
            why = tr("Verbindung zum Messgeraet an %1 verloren.").arg(session.portName());
            break;
        }
    }
    const qint64 elapsedMs = clock.elapsed();
    progress.finish();
    if (!download.isComplete())
        return saveIncomplete(arguments, download, why);
    if (!arguments.quiet)
        Console::message(tr("%1 Datensaetze, Zwischenzeit %2 Sek., %3 Bytes in %4 s")
                             .arg(download.received())
                             .arg(download.intervalSec())
                             .arg(stream.bytesRead())
                             .arg(double(elapsedMs) / 1000.0, 0, 'f', 3));
    return save(arguments, download);
}

int DownloadCommand::save(const CliArguments &arguments, const RecordDownload &download)
{
    if (!writeFile(arguments.output, download.csvFile(arguments.start)))
        return ExitFileNotWritten;
    if (!arguments.quiet)
        Console::message(tr("Gespeichert: %1").arg(arguments.output));
    return ExitOk;
}

int DownloadCommand::saveIncomplete(const CliArguments &arguments, const RecordDownload &download,
                                    const QString &why)
{
    const QString count =
        download.headerSeen()
            ? tr("%1 von %2 Datensaetzen").arg(download.received()).arg(download.announced())
            : tr("%1 Datensaetze, Anzahl unbekannt").arg(download.received());
    Console::message(tr("Download unvollstaendig (%1): %2").arg(count, why));
    if (!arguments.partial) {
        Console::message(tr("Nichts gespeichert (--partial speichert, was gekommen ist)."));
        return ExitDownloadIncomplete;
    }
    if (!writeFile(arguments.output, download.partialCsvFile(arguments.start)))
        return ExitFileNotWritten;
    if (!arguments.quiet)
        Console::message(tr("Unvollstaendig gespeichert: %1").arg(arguments.output));
    return ExitDownloadIncomplete;
}

// The window's atomic write: an existing file is replaced only once the new
// one has been written completely.
bool DownloadCommand::writeFile(const QString &fileName, const QByteArray &bytes)
{
    if (Records::writeFileAtomically(fileName, bytes))
        return true;
    Console::message(tr("Datei %1 konnte nicht geschrieben werden.").arg(fileName));
    return false;
}
