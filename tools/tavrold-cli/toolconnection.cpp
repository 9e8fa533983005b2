#include "toolconnection.h"

#include "cliarguments.h"
#include "console.h"
#include "metersearch.h"
#include "protocol.h"
#include "stopsignal.h"

ToolConnection::ToolConnection(const CliArguments &arguments, bool streams)
    : arguments(arguments), connection(arguments.port.isEmpty() ? MeterSearch::portsLastFoundFirst()
                                                                : QStringList{arguments.port})
{
    connection.setIntake(MeterConnection::Intake::Waking);
    connection.setStartsStream(streams);
    connection.setRemembersPort(arguments.port.isEmpty());
    // Corrections and limits are options of live, publish and check alone:
    // elsewhere these are the defaults, which change nothing.
    connection.setMeasurement(arguments.measurement);
    connection.setLimits(arguments.limits);
    // On a terminal the port being tried shows on one line, as in the
    // window's status bar; in a log it would only be noise.
    if (!arguments.quiet && Console::isTerminal(stderr))
        connect(&connection, &MeterConnection::searching, this, &ToolConnection::showTrying);
    connect(&connection, &MeterConnection::portRefused, this, &ToolConnection::noteRefusal);
    connect(&connection, &MeterConnection::portFailed, this, &ToolConnection::portFailed);
    connect(&connection, &MeterConnection::meterFound, this, &ToolConnection::found);
    stopCheck.setInterval(StopSignal::SliceMs);
    connect(&stopCheck, &QTimer::timeout, this, [this] {
        if (StopSignal::requested())
            loop.quit();
    });
}

// The connection lets the port go with it.
ToolConnection::~ToolConnection()
{
    if (connection.isConnected())
        connection.sendStop();
}

void ToolConnection::setEndsWhenLost()
{
    connect(&connection, &MeterConnection::meterLost, this, [this](const QString &port) {
        Console::message(Cli::tr("Verbindung zum Messgeraet an %1 verloren.").arg(port));
        lost = true;
        loop.quit();
    });
}

bool ToolConnection::find()
{
    deadline = arguments.timeoutMs > 0 ? QDeadlineTimer(arguments.timeoutMs)
                                       : QDeadlineTimer(QDeadlineTimer::Forever);
    searching = true;
    connection.start();
    run();
    searching = false;
    if (connection.isConnected())
        return true;
    clearTrying();
    // Quiet, the ports that may not be opened are named only when they may
    // be why no meter answered.
    if (arguments.quiet)
        for (const QString &why : refusals)
            Console::message(why);
    if (StopSignal::requested())
        Console::message(Cli::tr("Abgebrochen."));
    else if (arguments.port.isEmpty())
        Console::message(Cli::tr("Kein Messgeraet gefunden (COM1 bis COM20 abgefragt)."));
    else
        Console::message(Cli::tr("Kein Messgeraet an %1 gefunden.").arg(arguments.port));
    return false;
}

bool ToolConnection::run()
{
    if (StopSignal::requested())
        return false;
    stopCheck.start();
    loop.exec();
    stopCheck.stop();
    return !StopSignal::requested();
}

// A meter found is said once the search's line is gone (probe prints it as
// its result); find() is done. A meter found again (publish searches on) is
// said too.
void ToolConnection::found(const QString &port, int firmwareNumber)
{
    clearTrying();
    if (!arguments.quiet && arguments.command != CliArguments::Command::Probe)
        Console::message(MeterSearch::foundText(port) + QLatin1Char(' ') +
                         Protocol::firmwareText(firmwareNumber));
    portsTried = 0;
    if (searching)
        loop.quit();
}

// The first search gives up after one pass over the ports, or once the
// timeout has run out (going round again until then).
void ToolConnection::portFailed()
{
    ++portsTried;
    if (!searching)
        return;
    const QStringList &ports = connection.meterSearch().portList();
    if (arguments.timeoutMs > 0 ? deadline.hasExpired() : portsTried >= ports.size())
        loop.quit();
}

// A port that is there but may not be opened is named once, as the window
// names it in its status bar.
void ToolConnection::noteRefusal(const QString &why)
{
    if (refusals.contains(why))
        return;
    refusals.append(why);
    if (arguments.quiet)
        return;
    clearTrying();
    Console::message(why);
}

void ToolConnection::showTrying(const QString &name)
{
    statusShown = true;
    Console::progress(QLatin1Char('\r') + MeterSearch::searchingText(name) +
                      QStringLiteral("\033[K"));
}

void ToolConnection::clearTrying()
{
    if (statusShown)
        Console::progress(QStringLiteral("\r\033[K"));
    statusShown = false;
}
