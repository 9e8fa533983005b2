#ifndef PTYMETER_H
#define PTYMETER_H

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

class PortsSandbox;
class QSocketNotifier;

// A meter on a pseudo-terminal at a COM name: the test holds the meter's end
// (the master), the program opens the other end through the ports folder.
// Everything the program writes is collected; canned replies can be given for
// commands ("#v;" -> "M\x15").
class PtyMeter : public QObject
{
    Q_OBJECT

public:
    PtyMeter(const PortsSandbox &sandbox, const QString &comName);
    ~PtyMeter() override;

    bool isValid() const { return masterFd >= 0; }
    QString comName() const { return name; }
    QString devicePath() const { return slavePath; }

    // Bytes for the program to read.
    bool send(const QByteArray &bytes);
    // Everything the program has written so far (reads what is waiting).
    QByteArray received();
    void clearReceived();
    // Waits, running the event loop, until `bytes` appear in received().
    bool waitForReceived(const QByteArray &bytes, int timeoutMs = 5000);

    // Answers `command` each time the program writes it.
    void setReply(const QByteArray &command, const QByteArray &reply);

    // The meter goes away: its end of the line is closed.
    void vanish();

signals:
    void commandSeen(const QByteArray &command);

private:
    void drain();

    QString name;
    QString slavePath;
    int masterFd = -1;
    int slaveFd = -1;
    QSocketNotifier *notifier = nullptr;
    QByteArray input;
    int scanned = 0;
    QHash<QByteArray, QByteArray> replies;
};

#endif // PTYMETER_H
