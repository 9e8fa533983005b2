#ifndef METERSEARCH_H
#define METERSEARCH_H

#include <QObject>
#include <QString>
#include <QStringList>

class Modem;

// The search for the meter, one step at a time. A step either opens the
// next port, empties what its input holds and sends "#v;", or, a second
// later, looks for the reply "M" and the firmware number among the bytes
// that came meanwhile. A port without a reply is closed and the next one
// follows, the first again after the last, until a meter answers. After each
// step nextStepMs() says how long to wait before the next one: the window
// runs the steps from a timer, the command-line tool with waits of its own.
class MeterSearch : public QObject
{
    Q_OBJECT

public:
    static constexpr int FirstStepMs = 200;  // from the start, or a lost meter, to the first port
    static constexpr int ReplyWaitMs = 1000; // from "#v;" to looking at the reply
    static constexpr int AfterFailedOpenMs = 100; // a port that would not open
    static constexpr int AfterNoReplyMs = 200;    // a port that gave no valid reply
    // The most bytes taken in to look for the reply: more than a second of
    // the line at 9600 baud.
    static constexpr int ReplyReadLimit = 999;

    enum class Step {
        Probed,    // a port opened and was sent "#v;"
        NotOpened, // a port would not open
        NoReply,   // no valid reply: the port is closed again
        Found,     // the meter answered: its port stays open, and what came
                   // after the reply is read first from the channel
        Idle       // a meter is connected: there is nothing to search
    };

    // Searches `ports` in their order on the channel.
    explicit MeterSearch(Modem &modem, const QStringList &ports);

    Step step();
    // How long to wait from the last step to the next.
    int nextStepMs() const { return pauseMs; }
    // The meter has gone from its port: the port is let go and the search
    // starts again with it, after the first step's wait.
    void meterLost();

    const QStringList &portList() const { return ports; }
    // The position in portList() of the port the next opening step takes.
    int portIndex() const { return index; }
    bool awaitingReply() const { return awaiting; }
    bool deviceFound() const { return found; }
    int firmwareNumber() const { return firmware; }
    // The port taken last; once found, the meter's port.
    QString portName() const { return name; }
    // Whether the channel holds the port being probed or the meter's port.
    bool portOpen() const { return open; }

    // What the status bar (or the tool's status line) says while a port is
    // tried, "Suche HW :COM3", and once the meter has answered on it,
    // "HW gefunden an: COM3".
    static QString searchingText(const QString &port);
    static QString foundText(const QString &port);

    // The ports in the order to search them: the port the meter was found
    // on last time first (the setting "port"), then the others from COM1
    // on. COM1 to COM20 in order when none is remembered.
    static QStringList portsLastFoundFirst();
    // Remembers the port the meter answered on, for the next search.
    static void rememberPort(const QString &port);

signals:
    // The name of each port, just before it is opened.
    void trying(const QString &port);

private:
    friend struct MainWindowTestAccess;

    Step checkReply();
    void advance();

    Modem &modem;
    QStringList ports;
    int index = 0;
    bool awaiting = false;
    bool found = false;
    int firmware = 0;
    QString name;
    bool open = false;
    int pauseMs = FirstStepMs;
};

#endif // METERSEARCH_H
