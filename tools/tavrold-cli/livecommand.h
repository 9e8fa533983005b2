#ifndef LIVECOMMAND_H
#define LIVECOMMAND_H

#include <QCoreApplication>

class CliArguments;

// "live": switches the meter to streaming and writes a line per level and
// status message to standard output until --duration or --count is reached,
// a stop signal comes or the meter goes away.
class LiveCommand
{
    Q_DECLARE_TR_FUNCTIONS(LiveCommand)

public:
    static int run(const CliArguments &arguments);
};

#endif // LIVECOMMAND_H
