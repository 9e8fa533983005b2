#ifndef METERFINDER_H
#define METERFINDER_H

#include <QString>
#include <QStringList>

#include <functional>

class Modem;

// The search for the meter as the window makes it, with waits instead of
// timers: a first pause, then for each port in turn open it, send "#v;",
// look at the two-byte reply a second later, and on no answer close the port
// and go on after the same pauses as the window. Unlike the window it gives
// up: after one pass over the ports, or when a time limit has run out (then
// it goes round again as the window does until the limit).
class MeterFinder
{
public:
    explicit MeterFinder(Modem &modem) : modem(modem) {}

    // Runs the search over `ports`; true with the channel holding the
    // meter's port. timeoutMs 0: one pass. Also false when a stop was
    // requested.
    bool find(const QStringList &ports, qint64 timeoutMs);

    QString portName() const { return found; }
    int firmwareNumber() const { return firmware; }

    // Told the name of each port just before it is tried.
    std::function<void(const QString &)> onTrying;

private:
    bool probe(const QString &name, int *nextPauseMs);

    Modem &modem;
    QString found;
    int firmware = 0;
};

#endif // METERFINDER_H
