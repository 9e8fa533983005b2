#include "metersearch.h"
#include "identity.h"

#include "modem.h"
#include "portscan.h"
#include "protocol.h"

#include <QSettings>

namespace {

// Beside "pfad", the last file saved.
const char *const PortKey = "port";

} // namespace

MeterSearch::MeterSearch(Modem &modem, const QStringList &ports) : modem(modem), ports(ports) {}

MeterSearch::Step MeterSearch::step()
{
    if (awaiting)
        return checkReply();
    if (open || ports.isEmpty())
        return Step::Idle;

    name = ports.at(index);
    emit trying(name);
    open = modem.openPort(name);
    if (open) {
        // What the port holds from before - a meter left streaming by an
        // earlier run, a reply meant for somebody else - is not the reply.
        modem.discardInput();
        modem.writeString(QString::fromLatin1(Protocol::IdentifyCommand));
        awaiting = true;
        pauseMs = ReplyWaitMs;
        return Step::Probed;
    }
    advance();
    pauseMs = AfterFailedOpenMs;
    // Releases whatever a half-finished open may have left behind.
    modem.closePort();
    return Step::NotOpened;
}

// Whatever came in the second since "#v;" counts, nothing later.
MeterSearch::Step MeterSearch::checkReply()
{
    awaiting = false;
    char bytes[ReplyReadLimit];
    const int count = open ? modem.readBytes(bytes, ReplyReadLimit) : 0;
    const int end = Protocol::findIdentificationReply(bytes, count, &firmware);
    if (end >= 0) {
        found = true;
        // The rest is the start of the meter's stream.
        modem.unread(QByteArray(bytes + end, count - end));
        return Step::Found;
    }
    advance();
    pauseMs = AfterNoReplyMs;
    modem.closePort();
    open = false;
    return Step::NoReply;
}

void MeterSearch::meterLost()
{
    found = false;
    awaiting = false;
    modem.closePort();
    open = false;
    pauseMs = FirstStepMs;
}

void MeterSearch::advance()
{
    index = index + 1 >= ports.size() ? 0 : index + 1;
}

QString MeterSearch::searchingText(const QString &port)
{
    return tr("Suche HW :") + port;
}

QString MeterSearch::foundText(const QString &port)
{
    return tr("HW gefunden an: ") + port;
}

QStringList MeterSearch::portsLastFoundFirst()
{
    QStringList ports = PortScan::portNames();
    // Whatever else stands in the setting is not a port the search knows.
    const QSettings settings(Identity::Organisation, Identity::Application);
    const qsizetype last = ports.indexOf(settings.value(QLatin1String(PortKey)).toString());
    if (last > 0)
        ports.move(last, 0);
    return ports;
}

void MeterSearch::rememberPort(const QString &port)
{
    QSettings settings(Identity::Organisation, Identity::Application);
    if (settings.value(QLatin1String(PortKey)).toString() != port)
        settings.setValue(QLatin1String(PortKey), port);
}
