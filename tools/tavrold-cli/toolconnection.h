#ifndef TOOLCONNECTION_H
#define TOOLCONNECTION_H

#include "meterconnection.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

class CliArguments;

// The tool's hold on the meter for one command, through the connection the
// window uses too, run by the event loop: finds the meter (or asks the one
// port given) and tells the user on standard error how the search goes; when
// the command ends - however it ends - sends "#c;" as the window does when
// it closes, and lets the port go. Unlike the window it gives up: after one
// pass over the ports, or once --timeout has run out, or on a stop request.
class ToolConnection : public QObject
{
    Q_OBJECT

public:
    // streams: the meter found is switched to streaming.
    ToolConnection(const CliArguments &arguments, bool streams);
    ~ToolConnection() override;

    // Searches until a meter answers; false (with a message) when none did.
    bool find();
    // Runs the event loop until quit() or a stop request; false on a stop
    // request.
    bool run();
    void quit() { loop.quit(); }
    // The meter going away ends the command, with a message; wasLost() tells.
    void setEndsWhenLost();
    bool wasLost() const { return lost; }

    MeterConnection &meter() { return connection; }

private:
    void showTrying(const QString &name);
    void noteRefusal(const QString &why);
    void portFailed();
    void found(const QString &port, int firmwareNumber);
    void clearTrying();

    const CliArguments &arguments;
    MeterConnection connection;
    QEventLoop loop;
    QTimer stopCheck;
    bool searching = false; // find() runs: a search that fails gives up
    QDeadlineTimer deadline;
    qsizetype portsTried = 0;
    bool statusShown = false;
    bool lost = false;
    QStringList refusals; // each named once
};

#endif // TOOLCONNECTION_H
