#include "meterconnection.h"

#include "livedisplay.h"
#include "modem.h"

#include <QDateTime>
#include <QTimer>

// Every complete message of a poll, handed on once: readings kept to the
// display's range, measured (corrected, averaged, relative) and stamped with
// the poll's time and checked against the limits, the status, and the download's messages to the
// store first and then to whoever follows them.
class MeterConnection::Handover : public MeterStream::Receiver
{
public:
    explicit Handover(MeterConnection &connection)
        : connection(connection), timeMs(QDateTime::currentMSecsSinceEpoch())
    {
    }

    void reading(const MeterStream::Reading &r) override
    {
        MeterStream::Reading shown = r;
        shown.rawLevel = LiveDisplay::shownLevel(r.level);
        const Measurement::Result result = connection.measurement.take(
            r.kind, shown.rawLevel, connection.stream.status().headType);
        shown.absoluteLevel = LiveDisplay::shownLevel(result.absolute);
        shown.relative = result.relative;
        shown.level = result.relative ? result.level : shown.absoluteLevel;
        shown.timeMs = timeMs;
        shown.limit = connection.limitCheck.take(r.kind, shown.level, timeMs);
        connection.lastPoll.levels[r.kind] = shown;
        connection.lastPoll.newReadings = true;
        emit connection.reading(shown);
    }
    void status(const MeterStream::Status &s) override
    {
        connection.lastPoll.status = s;
        emit connection.statusReceived(s);
    }
    void downloadHeader(const QString &text) override { connection.takeDownloadHeader(text); }
    void dataSet(const QString &text) override { connection.takeDataSet(text); }

private:
    MeterConnection &connection;
    const qint64 timeMs; // when the poll took the bytes in
};

MeterConnection::MeterConnection(Modem &modem, const QStringList &ports, QTimer *scanTimer,
                                 QTimer *pollTimer, QObject *parent)
    : QObject(parent), modem(modem), search(modem, ports), scanTimer(scanTimer),
      pollTimer(pollTimer), store(std::make_unique<DownloadSession>())
{
    clock.start();
    if (!this->scanTimer) {
        this->scanTimer = new QTimer(this);
        connect(this->scanTimer, &QTimer::timeout, this, &MeterConnection::searchStep);
    }
    if (!this->pollTimer) {
        this->pollTimer = new QTimer(this);
        connect(this->pollTimer, &QTimer::timeout, this, &MeterConnection::poll);
    }
    // Each step of the search waits at least as long as it says: a coarse
    // timer may fire 5 % early, and a meter that answers "#v;" within its
    // second must not be missed.
    this->scanTimer->setTimerType(Qt::PreciseTimer);
    // The poll may come a few milliseconds early or late: the bytes wait in
    // the driver's queue, and one run takes in more than a second of the
    // line. A coarse timer lets the system bunch its wake-ups with others'.
    this->pollTimer->setTimerType(Qt::CoarseTimer);
    connect(&search, &MeterSearch::trying, this, &MeterConnection::searching);
}

MeterConnection::MeterConnection(const QStringList &ports, QObject *parent)
    : MeterConnection(*new Modem, ports, nullptr, nullptr, parent)
{
    ownModem.reset(&modem);
}

MeterConnection::~MeterConnection() = default;

void MeterConnection::start()
{
    scanTimer->start(search.nextStepMs());
}

void MeterConnection::searchStep()
{
    const MeterSearch::Step step = search.step();
    if (step == MeterSearch::Step::Found) {
        found();
        return;
    }
    if (step == MeterSearch::Step::Idle)
        return;
    scanTimer->start(search.nextStepMs());
    if (step == MeterSearch::Step::NotOpened) {
        // A port that is missing says nothing; one the user may not open
        // says why.
        if (const QString why = modem.openFailureText(); !why.isEmpty())
            emit portRefused(why);
    }
    if (step != MeterSearch::Step::Probed)
        emit portFailed();
}

// The meter has answered: switch it to streaming and read its stream from
// now on (what came after its reply is read first).
void MeterConnection::found()
{
    scanTimer->stop();
    if (remembersPort)
        MeterSearch::rememberPort(search.portName());
    if (startsStream)
        modem.writeString(QString::fromLatin1(Protocol::StreamCommand));
    stream.restart();
    pollTimer->start(intakeMode == Intake::Waking ? 0 : PollMs);
    emit meterFound(search.portName(), search.firmwareNumber());
}

// The meter has gone from its port while it was connected: let go of the
// port, end a download that was running with what arrived, and search again
// as at start-up, beginning with the port it was on.
void MeterConnection::lost()
{
    pollTimer->stop();
    measurement.restart();
    limitCheck.restart();
    if (store->lose())
        emit downloadEnded();
    search.meterLost();
    emit meterLost(search.portName());
    scanTimer->start(search.nextStepMs());
}

const MeterConnection::Poll &MeterConnection::poll()
{
    lastPoll = Poll();
    Handover handover(*this);
    if (search.portOpen()) {
        int count = 0;
        if (intakeMode == Intake::Waking) {
            char buffer[WakingReadLimit];
            if (modem.waitForReadyRead(PollMs))
                count = modem.readBytes(buffer, int(sizeof buffer));
            stream.feed(buffer, count, handover);
        } else {
            // Every poll decodes all it takes in, so the ring is empty here.
            char buffer[MeterStream::IntakeLimit];
            count = modem.readBytes(buffer, int(sizeof buffer));
            stream.take(buffer, count);
        }
        bytesTaken += count;
        // Nothing came because the meter has gone (a pulled cable, a
        // switched-off adapter), not because it is silent: search again.
        if (count == 0 && modem.deviceLost()) {
            lost();
            return lastPoll;
        }
    }
    stream.decode(handover);
    if (store->checkStall(clock.elapsed()))
        emit downloadEnded();
    pollTimer->start(intakeMode == Intake::Waking ? 0 : PollMs);
    emit polled();
    return lastPoll;
}

void MeterConnection::setMeasurement(const MeasurementSettings &settings)
{
    measurement.setSettings(settings);
}

QString MeterConnection::correctionText() const
{
    return measurement.settings().summary(stream.status().headType);
}

bool MeterConnection::setReferenceFromLast()
{
    return measurement.setReferenceFromLast();
}

bool MeterConnection::requestDownload()
{
    const bool sent = isConnected();
    store->start(sent, clock.elapsed());
    if (sent)
        modem.writeString(QString::fromLatin1(Protocol::DownloadCommand));
    return sent;
}

void MeterConnection::sendStop()
{
    modem.writeString(QString::fromLatin1(Protocol::StopCommand));
}

// The meter announces a download with the index of its last data set and the
// recording interval in seconds, e.g. "15*60" for 16 data sets a minute apart.
// An empty memory announces -1: that download is complete at once.
void MeterConnection::takeDownloadHeader(const QString &text)
{
    const bool wasComplete = store->isComplete();
    store->takeHeader(text, clock.elapsed());
    if (!wasComplete && store->isComplete())
        emit downloadEnded();
    emit downloadHeader(text);
}

// One data set, "RMS*PEP" in hundredths of a dBm, in the order the meter
// recorded them. The data set at the announced last index completes the
// download.
void MeterConnection::takeDataSet(const QString &text)
{
    store->takeDataSet(text, clock.elapsed(), [this] { emit downloadEnded(); });
    emit dataSet(text);
}
