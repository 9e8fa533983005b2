#ifndef MODEM_H
#define MODEM_H

#include "serialport.h"

#include <QByteArray>
#include <QObject>
#include <QString>

// The program's only access to the serial line: opens one COM port by name
// with fixed line settings (9600 baud, 8N2, no handshake), hands out the bytes
// that have already arrived without ever waiting, writes commands and closes
// the port. Every open, failed open and close is reported through
// setTtyText(): the plain port name after a successful open, "?" otherwise.
class Modem : public QObject
{
    Q_OBJECT

public:
    Modem();
    ~Modem() override;

    bool openPort(const QString &name);
    bool closePort();
    int readBytes(char *buffer, int maxCount);
    bool writeString(const QString &text);
    bool writeByte(char value);
    // Throws away what the port has received and not yet handed out.
    void discardInput();
    // Gives bytes that were read back to the channel: the next reads hand
    // them out first, before anything received since. Let go with the port.
    void unread(const QByteArray &bytes);
    // True when the last read found the device gone (unplugged, switched
    // off with its adapter, the other end of the line closed) rather than a
    // line that is merely silent. Cleared by openPort() and closePort().
    bool deviceLost() const { return lost; }
    // Waits up to msecs for bytes to arrive (or the device to go), without
    // using the processor meanwhile; false when the time ran out or no port
    // is open. For programs that read on their own time, never the window.
    bool waitForReadyRead(int msecs);

    // The device that a port name such as "COM3" stands for on this system.
    static QString devicePath(const QString &name);

    // What the user can do something about, for the port that failed last:
    // "Kein Zugriff auf /dev/ttyUSB0 (COM5): Gruppe dialout fehlt", or
    // "COM5 ist von einem anderen Programm belegt". Empty when the port is
    // simply not there, or for any other failure.
    QString openFailureText() const;

signals:
    void setTtyText(QString text);

private:
    SerialPort::Handle portHandle;
    bool lost = false;
    QByteArray readBack;
    SerialPort::OpenFailure failure = SerialPort::OpenFailure::None;
    QString failedName;
    QString failedDevice;
};

#endif // MODEM_H
