#ifndef PROBECOMMAND_H
#define PROBECOMMAND_H

#include <QCoreApplication>

class CliArguments;

// "probe": finds the meter and prints its port and firmware ("COM3 FW:2.xx").
class ProbeCommand
{
    Q_DECLARE_TR_FUNCTIONS(ProbeCommand)

public:
    static int run(const CliArguments &arguments);
};

#endif // PROBECOMMAND_H
