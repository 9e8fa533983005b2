#include "metersession.h"

#include "cliarguments.h"
#include "console.h"
#include "metersearch.h"
#include "protocol.h"
#include "stopsignal.h"

#include <QDeadlineTimer>

MeterSession::MeterSession(const CliArguments &arguments) : arguments(arguments) {}

MeterSession::~MeterSession()
{
    if (connected)
        modem.writeString(QString::fromLatin1(Protocol::StopCommand));
    modem.closePort();
}

bool MeterSession::connect(bool untilFound)
{
    MeterSearch finder(modem, arguments.port.isEmpty() ? MeterSearch::portsLastFoundFirst()
                                                       : QStringList{arguments.port});
    // On a terminal the port being tried shows on one line, as in the
    // window's status bar; in a log it would only be noise.
    if (!arguments.quiet && Console::isTerminal(stderr))
        QObject::connect(&finder, &MeterSearch::trying,
                         [this](const QString &name) { showTrying(name); });
    connected = search(finder, untilFound);
    if (statusShown)
        Console::progress(QStringLiteral("\r\033[K"));
    if (!connected) {
        // Quiet, the ports that may not be opened are named only when they
        // may be why no meter answered.
        if (arguments.quiet)
            for (const QString &why : refusals)
                Console::message(why);
        if (StopSignal::requested())
            Console::message(tr("Abgebrochen."));
        else if (arguments.port.isEmpty())
            Console::message(tr("Kein Messgeraet gefunden (COM1 bis COM20 abgefragt)."));
        else
            Console::message(tr("Kein Messgeraet an %1 gefunden.").arg(arguments.port));
        return false;
    }
    port = finder.portName();
    stream = MeterStream(); // a new line: the head as at the start
    firmware = finder.firmwareNumber();
    if (arguments.port.isEmpty())
        MeterSearch::rememberPort(port);
    if (!arguments.quiet && arguments.command != CliArguments::Command::Probe)
        Console::message(MeterSearch::foundText(port) + QLatin1Char(' ') +
                         Protocol::firmwareText(firmware));
    return true;
}

// The window's search, with waits instead of its timer. Unlike the window it
// gives up: after one pass over the ports, or once --timeout has run out
// (going round again until then), or on a stop request.
bool MeterSession::search(MeterSearch &finder, bool untilFound)
{
    const qint64 timeoutMs = arguments.timeoutMs;
    const QDeadlineTimer deadline =
        timeoutMs > 0 ? QDeadlineTimer(timeoutMs) : QDeadlineTimer(QDeadlineTimer::Forever);
    qsizetype portsTried = 0;
    for (;;) {
        if (betweenSteps)
            betweenSteps();
        if (!StopSignal::sleep(finder.nextStepMs()))
            return false;
        switch (finder.step()) {
        case MeterSearch::Step::Found:
            return true;
        case MeterSearch::Step::Probed:
            continue;
        case MeterSearch::Step::NotOpened:
            noteRefusal(modem.openFailureText());
            break;
        default:
            break;
        }
        ++portsTried;
        if (untilFound)
            continue;
        if (timeoutMs > 0 ? deadline.hasExpired() : portsTried >= finder.portList().size())
            return false;
    }
}

// A port that is there but may not be opened is named once, as the window
// names it in its status bar.
void MeterSession::noteRefusal(const QString &why)
{
    if (why.isEmpty() || refusals.contains(why))
        return;
    refusals.append(why);
    if (arguments.quiet)
        return;
    if (statusShown)
        Console::progress(QStringLiteral("\r\033[K"));
    Console::message(why);
}

void MeterSession::showTrying(const QString &name)
{
    statusShown = true;
    Console::progress(QLatin1Char('\r') + MeterSearch::searchingText(name) +
                      QStringLiteral("\033[K"));
}

MeterSession::Read MeterSession::read(int waitMs, MeterStream::Receiver &receiver,
                                      qint64 *bytesRead)
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
