// tavrold-cli: Tavrolinde without a window. Finds the meter on COM1 to COM20
// as the window does, logs its live readings, and downloads its recording to
// the CSV file the window saves. Needs Qt Core alone, so it runs where there
// is no display (a Raspberry Pi, a cron job).

#include "cliarguments.h"
#include "console.h"
#include "downloadcommand.h"
#include "exitcode.h"
#include "livecommand.h"
#include "probecommand.h"
#include "stopsignal.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavrold-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.00"));

    CliArguments arguments;
    if (!arguments.parse(QCoreApplication::arguments())) {
        Console::message(arguments.errorText());
        Console::message(QCoreApplication::translate("main", "Hilfe: tavrold-cli --help"));
        return ExitBadUsage;
    }
    switch (arguments.command) {
    case CliArguments::Command::Help:
        std::fputs(CliArguments::helpText().toLocal8Bit().constData(), stdout);
        return ExitOk;
    case CliArguments::Command::Version:
        std::fputs((CliArguments::versionText() + QLatin1Char('\n')).toLocal8Bit().constData(),
                   stdout);
        return ExitOk;
    default:
        break;
    }

    StopSignal::install();
    switch (arguments.command) {
    case CliArguments::Command::Probe:
        return ProbeCommand::run(arguments);
    case CliArguments::Command::Live:
        return LiveCommand::run(arguments);
    case CliArguments::Command::Download:
        return DownloadCommand::run(arguments);
    default:
        return ExitBadUsage;
    }
}
