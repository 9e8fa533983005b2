#include "probecommand.h"

#include "cliarguments.h"
#include "console.h"
#include "exitcode.h"
#include "metersession.h"
#include "protocol.h"

int ProbeCommand::run(const CliArguments &arguments)
{
    MeterSession session(arguments);
    if (!session.connect())
        return ExitNoMeter;
    bool brokenPipe = false;
    const QString found =
        session.portName() + QLatin1Char(' ') + Protocol::firmwareText(session.firmwareNumber());
    if (!Console::dataLine(found.toLatin1(), &brokenPipe) && !brokenPipe) {
        Console::message(tr("Die Ausgabe konnte nicht geschrieben werden."));
        return ExitFileNotWritten;
    }
    return ExitOk;
}
