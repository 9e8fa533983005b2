#include "livecommand.h"

#include "cliarguments.h"
#include "console.h"
#include "exitcode.h"
#include "livelog.h"
#include "messagestream.h"
#include "metersession.h"
#include "protocol.h"
#include "stopsignal.h"

#include <QDeadlineTimer>

namespace {

// Where writing the log stands.
struct LogState
{
    qint64 lines = 0;
    bool failed = false;     // standard output could not be written
    bool readerGone = false; // ... because its reader has ended
};

bool writeLine(const QByteArray &line, LogState *state)
{
    if (Console::dataLine(line, &state->readerGone))
        return true;
    state->failed = true;
    return false;
}

} // namespace

int LiveCommand::run(const CliArguments &arguments)
{
    MeterSession session(arguments);
    if (!session.connect())
        return ExitNoMeter;

    LiveLog log(arguments.format == CliArguments::Format::JsonLines ? LiveLog::Format::JsonLines
                                                                    : LiveLog::Format::Csv);
    LogState state;
    if (!log.header().isEmpty())
        writeLine(log.header(), &state);
    session.channel().writeString(QString::fromLatin1(Protocol::StreamCommand));

    const QDeadlineTimer deadline = arguments.durationMs > 0
                                        ? QDeadlineTimer(arguments.durationMs, Qt::PreciseTimer)
                                        : QDeadlineTimer(QDeadlineTimer::Forever);
    const auto enough = [&] {
        return state.failed || (arguments.count > 0 && state.lines >= arguments.count);
    };
    const MessageStream::Handler onMessage = [&](int type, const QString &text) {
        if (enough())
            return;
        const QByteArray line = log.take(type, text, QDateTime::currentDateTime());
        if (!line.isEmpty() && writeLine(line, &state))
            ++state.lines;
    };

    MessageStream stream(session.channel());
    bool lost = false;
    while (!enough() && !StopSignal::requested() && !deadline.hasExpired()) {
        const qint64 left = deadline.remainingTime();
        const int wait = left < 0 || left > StopSignal::SliceMs ? StopSignal::SliceMs : int(left);
        if (stream.readFor(wait, onMessage) == MessageStream::Read::Lost) {
            lost = true;
            break;
        }
    }

    if (state.failed && !state.readerGone) {
        Console::message(tr("Die Ausgabe konnte nicht geschrieben werden."));
        return ExitFileNotWritten;
    }
    if (lost) {
        Console::message(tr("Verbindung zum Messgeraet an %1 verloren.").arg(session.portName()));
        return ExitNoMeter;
    }
    return ExitOk;
}
