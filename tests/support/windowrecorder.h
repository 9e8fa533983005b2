#ifndef WINDOWRECORDER_H
#define WINDOWRECORDER_H

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

class QMainWindow;

// Everything the user sees change in the status bar and the window title,
// with the time on a clock of the test's: "status Suche HW :COM3",
// "title Tavrolinde - V2.00 - FW:? - COM3".
class WindowRecorder : public QObject
{
public:
    struct Event
    {
        qint64 ms;
        QString what;
    };

    WindowRecorder(QMainWindow &window, const QElapsedTimer &clock);

    // The time of the first event at or after *from that reads `what`, -1
    // when there is none; *from moves past it.
    qint64 find(const QString &what, int *from) const;
    // The texts of the events from index `from` on that start with
    // `prefix`, in order, without it.
    QStringList texts(const QString &prefix, int from = 0) const;
    // Every event, one a line, for failure messages.
    QString dump() const;

    QList<Event> events;

private:
    void add(const QString &what);

    const QElapsedTimer &clock;
};

#endif // WINDOWRECORDER_H
