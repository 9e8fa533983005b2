#include "metersession.h"

#include "cliarguments.h"
#include "console.h"
#include "meterfinder.h"
#include "portscan.h"
#include "protocol.h"
#include "stopsignal.h"

MeterSession::MeterSession(const CliArguments &arguments) : arguments(arguments) {}

MeterSession::~MeterSession()
{
    if (connected)
        modem.writeString(QString::fromLatin1(Protocol::StopCommand));
    modem.closePort();
}

bool MeterSession::connect()
{
    const QStringList ports =
        arguments.port.isEmpty() ? PortScan::portNames() : QStringList{arguments.port};
    MeterFinder finder(modem);
    // On a terminal the port being tried shows on one line, as in the
    // window's status bar; in a log it would only be noise.
    if (!arguments.quiet && Console::isTerminal(stderr))
        finder.onTrying = [this](const QString &name) { showTrying(name); };
    connected = finder.find(ports, arguments.timeoutMs);
    if (statusShown)
        Console::progress(QStringLiteral("\r\033[K"));
    if (!connected) {
        if (StopSignal::requested())
            Console::message(tr("Abgebrochen."));
        else if (arguments.port.isEmpty())
            Console::message(tr("Kein Messgeraet gefunden (COM1 bis COM20 abgefragt)."));
        else
            Console::message(tr("Kein Messgeraet an %1 gefunden.").arg(arguments.port));
        return false;
    }
    port = finder.portName();
    firmware = finder.firmwareNumber();
    if (!arguments.quiet && arguments.command != CliArguments::Command::Probe)
        Console::message(tr("HW gefunden an: ") + port + QLatin1Char(' ') +
                         Protocol::firmwareText(firmware));
    return true;
}

void MeterSession::showTrying(const QString &name)
{
    statusShown = true;
    Console::progress(QStringLiteral("\rSuche HW :") + name + QStringLiteral("\033[K"));
}
