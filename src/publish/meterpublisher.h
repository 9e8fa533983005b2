#ifndef METERPUBLISHER_H
#define METERPUBLISHER_H

#include "levellimits.h"
#include "livelog.h"
#include "measurement.h"
#include "meterstream.h"
#include "protocol.h"
#include "readinghistory.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

// What `tavrold-cli publish` sends to an MQTT broker, made from the meter's
// readings and status, without any network of its own:
//   <prefix>/<id>/state         a JSON state every interval: the RMS level as
//                               the power average of the interval's RMS
//                               readings, the PEP level as the maximum of its
//                               PEP readings, each with voltage and power, and
//                               the meter's status (QoS 0, not retained);
//   <prefix>/<id>/availability  "online" while the meter streams, "offline"
//                               when it is lost or the program stops
//                               (retained; also the broker's last will);
//   <discovery>/<component>/<id>/<object>/config
//                               Home Assistant's discovery (retained), at
//                               most one burst of it every 10 s, whatever
//                               asks for it (a reconnect, Home Assistant's
//                               "online", another head);
//   <prefix>/<id>/set/limit_low, .../limit_high, .../offset, .../clear
//                               with commands on: what Home Assistant sets.
// With limits set, or commands on (where Home Assistant may set limits
// later), the state carries "limit" ("ok", "low", "high", null before a
// result of the limited kind or with no limit) and "limit_count", and the
// discovery a binary_sensor "Grenzwert" (device class problem) and a sensor
// of the count. With commands on, the state carries the settings
// "limit_low", "limit_high" (null: none) and "offset", the discovery a
// number entity for each and a button that clears the count. Neither: state
// and discovery are those of a publisher without limits.
// The id is --id, else "meter" and the number of the meter's first status.
// Readings before the first status are not published: their unit is not
// known yet.
class MeterPublisher : public MeterStream::Receiver
{
    Q_DECLARE_TR_FUNCTIONS(MeterPublisher)

public:
    struct Settings
    {
        QString topicPrefix = QStringLiteral("tavrolinde");
        QString id; // empty: "meter<number>" from the first status
        QString discoveryPrefix = QStringLiteral("homeassistant");
        bool discovery = true;
        qint64 intervalMs = 1000; // 0: a state for every reading
        int firmwareNumber = 0;
        // The levels are corrected: each kind carries the raw level beside.
        bool corrected = false;
        // Home Assistant may set the limits and the offset, and clear the count.
        bool commands = false;
    };

    // What a command asks of the connection, checked against the settings in
    // force: new limits, a new measurement (the offset) or a cleared count.
    struct Command
    {
        enum Kind { SetLimits, SetMeasurement, ClearCount } kind = ClearCount;
        LimitSettings limits;
        MeasurementSettings measurement;
        QString description; // one line for the log
    };

    static constexpr qint64 DiscoveryPauseMs = 10000;

    struct Message
    {
        QByteArray topic;
        QByteArray payload;
        int qos = 0;
        bool retain = false;
    };
    using Sink = std::function<void(const Message &)>;

    // Topic parts are text the broker would otherwise take as wildcards or
    // cut short: no '+', '#' or NUL, at most 100 bytes, not empty; a single
    // level (an id) is made of A-Z, a-z, 0-9, '_' and '-' alone, as Home
    // Assistant takes it for a node id. The reason a part is refused, or an
    // empty text when it may be used.
    static QString topicPartError(const QString &part, bool singleLevel);

    MeterPublisher(const Settings &settings, Sink sink);

    // Empty until the id is known (--id, or the first status).
    QString nodeId() const { return id; }
    QByteArray availabilityTopic() const;
    QByteArray discoveryStatusTopic() const;
    // The topics to follow: Home Assistant's status, and with commands on
    // the command topics (empty until the id is known).
    QList<QByteArray> subscriptions() const;

    // The limits the readings were checked against and the measurement they
    // went through (both the connection's, and outliving the publisher):
    // the state tells of them, and commands change copies of them.
    void setControls(const Limits *limits, const MeasurementSettings *measurement);

    // The stream's status and readings, taken as they come.
    void status(const MeterStream::Status &status) override;
    void reading(const MeterStream::Reading &reading) override;
    // Sends the state when the interval is over.
    void tick(const QDateTime &now);

    // After every (re)connect: availability, and the discovery once the
    // status is known.
    void brokerConnected();
    // The connection went away: the discovery waits for the next.
    void brokerLost();
    // A message on a subscribed topic: Home Assistant's "online" asks for
    // the discovery again; a command is returned for the caller to carry
    // out, or refused with the reason in *error (a value out of range or no
    // number).
    std::optional<Command> takeMessage(const QByteArray &topic, const QByteArray &payload,
                                       QString *error);
    // The meter has gone ("offline"; the interval's readings are dropped) or
    // been found again ("online" with its next status).
    void meterLost();
    // A clean stop: "offline".
    void stop();

private:
    struct Window
    {
        ReadingHistory::StatisticsSum sum;
        ReadingHistory::StatisticsSum rawSum; // of the raw levels, when corrected
        std::optional<double> last;           // the level last published, carried on
        std::optional<double> lastRaw;
    };

    QByteArray topic(const char *leaf) const;
    std::optional<Command> command(const QByteArray &leaf, const QByteArray &payload,
                                   QString *error) const;
    bool limitsShown() const;
    void setOnline(bool on);
    void requestDiscovery();
    void sendPendingDiscovery();
    void sendDiscovery();
    void sendState(const QDateTime &when);
    QByteArray stateJson(const QDateTime &when);
    void clearReadings();

    Settings settings;
    Sink sink;
    QString id;
    std::optional<MeterStream::Status> meterStatus;
    bool audio = false;
    bool online = false;
    bool brokerUp = false;
    bool discoveryPending = false;
    QElapsedTimer lastDiscovery;
    const Limits *limits = nullptr;
    const MeasurementSettings *measurement = nullptr;
    Window rms;
    Window pep;
    QDateTime windowStart;
};

#endif // METERPUBLISHER_H
