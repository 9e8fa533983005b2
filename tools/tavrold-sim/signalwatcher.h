#ifndef SIGNALWATCHER_H
#define SIGNALWATCHER_H

#include <QList>
#include <QObject>

class QSocketNotifier;

// Brings POSIX signals (Ctrl-C, SIGTERM, SIGHUP) into the event loop. The
// handler only writes the signal's number into a pipe; everything else
// happens in the slot connected to signalReceived(), outside the handler.
// One watcher per process.
class SignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit SignalWatcher(const QList<int> &signalNumbers, QObject *parent = nullptr);
    ~SignalWatcher() override;

signals:
    void signalReceived(int signalNumber);

private:
    static void handler(int signalNumber);
    void drain();

    static int pipeFds[2];
    QList<int> watched;
    QSocketNotifier *notifier = nullptr;
};

#endif // SIGNALWATCHER_H
