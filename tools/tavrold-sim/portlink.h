#ifndef PORTLINK_H
#define PORTLINK_H

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

// The simulated meter's end of the line: a pseudo-terminal whose program side
// is linked as a COM name in the ports folder, where the program looks for
// its serial ports.
//
// Beside the link lies COMn.pid, locked while a simulated meter serves the
// name and holding its process id and device. A live lock means the name is
// taken; a link left behind by a dead run (its device gone, or the device it
// recorded) is replaced. A link that something else set up - a real device,
// another program's pseudo-terminal - is never touched.
class PortLink
{
    Q_DECLARE_TR_FUNCTIONS(PortLink)

public:
    PortLink() = default;
    ~PortLink();

    PortLink(const PortLink &) = delete;
    PortLink &operator=(const PortLink &) = delete;

    // Creates the pseudo-terminal and links it. False, with a message for
    // the user, when the name is taken or something fails.
    bool open(const QString &comName, QString *error);
    // Removes the link (if it is still ours) and the lock file.
    void close();

    // The meter is unplugged: the pseudo-terminal closes (the program's end
    // sees its line hung up) and the COM name leads nowhere, as the device
    // of a pulled USB adapter is gone. The name stays reserved.
    void unplug();
    // Plugged in again: a new pseudo-terminal under the same COM name.
    bool replug(QString *error);

    int masterFd() const { return master; }
    QString devicePath() const { return device; }
    QString linkPath() const;

private:
    QString lockPath() const;
    bool lock(QString *error, QByteArray *previousRecord);
    bool linkIsFree(const QByteArray &previousRecord, QString *error) const;
    bool createPty(QString *error);
    void closePty();
    bool placeLink(QString *error);
    void unlock();

    QString name;
    QString device;
    int master = -1;
    int slave = -1;
    int lockFd = -1;
    bool linked = false;
};

#endif // PORTLINK_H
