#include "meterfinder.h"

#include "modem.h"
#include "portscan.h"
#include "protocol.h"
#include "stopsignal.h"

#include <QDeadlineTimer>

bool MeterFinder::find(const QStringList &ports, qint64 timeoutMs)
{
    found.clear();
    firmware = 0;
    if (ports.isEmpty())
        return false;
    const QDeadlineTimer deadline =
        timeoutMs > 0 ? QDeadlineTimer(timeoutMs) : QDeadlineTimer(QDeadlineTimer::Forever);
    int index = 0;
    int tried = 0;
    int pauseMs = PortScan::FirstStepMs;
    for (;;) {
        if (!StopSignal::sleep(pauseMs))
            return false;
        const QString name = ports.at(index);
        if (probe(name, &pauseMs)) {
            found = name;
            return true;
        }
        if (StopSignal::requested())
            return false;
        index = PortScan::nextIndex(index, int(ports.size()));
        ++tried;
        if (timeoutMs > 0 ? deadline.hasExpired() : tried >= ports.size())
            return false;
    }
}

// One port: true when the meter answered; otherwise the port is closed again
// and *nextPauseMs says how long to wait before the next one.
bool MeterFinder::probe(const QString &name, int *nextPauseMs)
{
    if (onTrying)
        onTrying(name);
    if (!modem.openPort(name)) {
        // Releases whatever a half-finished open may have left behind.
        modem.closePort();
        *nextPauseMs = PortScan::AfterFailedOpenMs;
        return false;
    }
    modem.writeString(QString::fromLatin1(Protocol::IdentifyCommand));
    // Whatever the port received in this second counts, nothing later.
    StopSignal::sleep(PortScan::ReplyWaitMs);
    char reply[Protocol::ReplyLength] = {};
    const int count = modem.readBytes(reply, Protocol::ReplyLength);
    if (!StopSignal::requested() && Protocol::isIdentificationReply(reply, count, &firmware))
        return true;
    modem.closePort();
    *nextPauseMs = PortScan::AfterNoReplyMs;
    return false;
}
