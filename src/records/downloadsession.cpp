#include "downloadsession.h"

#include "protocol.h"
#include "recordformat.h"

#include <climits>

void DownloadSession::start(bool sent, qint64 nowMs)
{
    lastRecordIndex = 0;
    recordIntervalSec = 1;
    for (int i = 0; i < Capacity; ++i) {
        rmsValues[i] = 0;
        pepValues[i] = 0;
    }
    recordCount = 0;
    header = false;
    phase = sent ? State::Waiting : State::Idle;
    lastActivityMs = nowMs;
}

void DownloadSession::takeHeader(const QString &text, qint64 nowMs)
{
    lastRecordIndex = Protocol::readInteger(Protocol::section(text, 0));
    recordIntervalSec = Protocol::readInteger(Protocol::section(text, 1));
    header = true;
    if (isComplete())
        return;
    if (lastRecordIndex < 0) {
        phase = State::Empty; // nothing recorded: there is nothing to wait for
        return;
    }
    if (isRunning()) {
        phase = State::Receiving;
        lastActivityMs = nowMs;
    }
}

bool DownloadSession::storeDataSet(const QString &text, qint64 nowMs)
{
    const int index = recordCount;
    if (index < 0 || index == INT_MAX)
        return false;
    if (index < Capacity) {
        rmsValues[index] =
            Protocol::readTruncated(Protocol::withoutBlanks(Protocol::section(text, 0)));
        pepValues[index] =
            Protocol::readTruncated(Protocol::withoutBlanks(Protocol::section(text, 1)));
    }
    if (isRunning()) {
        phase = State::Receiving;
        lastActivityMs = nowMs;
    }
    if (index != lastRecordIndex)
        return false;
    phase = State::Complete;
    return true;
}

void DownloadSession::countDataSet()
{
    if (recordCount >= 0 && recordCount < INT_MAX)
        ++recordCount;
}

bool DownloadSession::checkStall(qint64 nowMs)
{
    if ((phase != State::Waiting && phase != State::Receiving) || nowMs - lastActivityMs < StallMs)
        return false;
    phase = State::Stalled;
    return true;
}

bool DownloadSession::lose()
{
    if (!isRunning())
        return false;
    phase = State::Lost;
    return true;
}

bool DownloadSession::isRunning() const
{
    return phase == State::Waiting || phase == State::Receiving || phase == State::Stalled;
}

int DownloadSession::received() const
{
    return qBound(0, recordCount, Capacity);
}

// Data sets that came before a late header may be more than it announces.
qint64 DownloadSession::shownReceived() const
{
    return header ? qMin<qint64>(received(), announced()) : received();
}

qint64 DownloadSession::announced() const
{
    return header ? qMax<qint64>(0, qint64(lastRecordIndex) + 1) : 0;
}

int DownloadSession::resultCount() const
{
    const int upToLastIndex = Records::shownCount(lastRecordIndex, Capacity);
    return isComplete() ? upToLastIndex : qMin(received(), upToLastIndex);
}

QString DownloadSession::countText() const
{
    if (isComplete())
        return tr("%1 Datensaetze").arg(qMax<qint64>(0, qint64(lastRecordIndex) + 1));
    if (header)
        return tr("%1 von %2 Datensaetzen").arg(shownReceived()).arg(announced());
    return tr("%1 Datensaetze, Anzahl unbekannt").arg(received());
}

QString DownloadSession::progressText() const
{
    switch (phase) {
    case State::Idle:
        break;
    case State::Waiting:
        return tr("Warte auf Aufzeichnung ...");
    case State::Receiving: {
        const qint64 all = announced();
        return tr("Lese Datensaetze: %1 von %2 (%3 %)")
            .arg(shownReceived())
            .arg(all)
            .arg(all > 0 ? shownReceived() * 100 / all : 0);
    }
    case State::Stalled:
        return tr("Aufzeichnung unterbrochen: ") + countText();
    case State::Lost:
        return tr("Aufzeichnung abgebrochen: ") + countText();
    case State::Complete:
        return tr("Aufzeichnung gelesen: ") + countText();
    case State::Empty:
        return tr("Aufzeichnung leer: ") + countText();
    }
    return QString();
}

QString DownloadSession::listingText(const QTime &start) const
{
    return Records::listingText(start, recordIntervalSec, rmsValues, pepValues, resultCount());
}

QByteArray DownloadSession::csvFile(const QTime &start) const
{
    return Records::csvFile(start, recordIntervalSec, rmsValues, pepValues, resultCount());
}
