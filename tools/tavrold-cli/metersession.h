#ifndef METERSESSION_H
#define METERSESSION_H

#include "meterstream.h"
#include "modem.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <functional>

class CliArguments;
class MeterSearch;

// The tool's hold on the meter for one command: finds it (or asks the one
// port given), and when the command ends - however it ends - sends "#c;" as
// the window does when it closes, and lets the port go.
class MeterSession
{
    Q_DECLARE_TR_FUNCTIONS(MeterSession)

public:
    explicit MeterSession(const CliArguments &arguments);
    ~MeterSession();

    MeterSession(const MeterSession &) = delete;
    MeterSession &operator=(const MeterSession &) = delete;

    // Runs the search, telling the user on standard error; false (with a
    // message) when no meter answered. untilFound: the search goes round
    // without end, and only a stop request ends it (a meter that was lost).
    bool connect(bool untilFound = false);

    // Runs between the search's steps (a command that serves something else
    // meanwhile).
    std::function<void()> betweenSteps;

    // Waits up to waitMs for bytes without using the processor meanwhile,
    // takes in all that have come and decodes them for the receiver: Bytes
    // when some came, Quiet when none came in time, Lost when the device has
    // gone. The message stream starts afresh with each meter found.
    enum class Read { Bytes, Quiet, Lost };
    Read read(int waitMs, MeterStream::Receiver &receiver, qint64 *bytesRead = nullptr);

    // Sends one of the meter's commands.
    void send(const char *command) { modem.writeString(QString::fromLatin1(command)); }
    QString portName() const { return port; }
    int firmwareNumber() const { return firmware; }

private:
    bool search(MeterSearch &search, bool untilFound);
    void showTrying(const QString &name);
    void noteRefusal(const QString &why);

    const CliArguments &arguments;
    Modem modem;
    MeterStream stream;
    QString port;
    int firmware = 0;
    bool connected = false;
    bool statusShown = false;
    QStringList refusals; // each named once
};

#endif // METERSESSION_H
