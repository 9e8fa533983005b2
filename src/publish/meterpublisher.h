#ifndef METERPUBLISHER_H
#define METERPUBLISHER_H

#include "livelog.h"
#include "meterstream.h"
#include "protocol.h"
#include "readinghistory.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
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
//   <discovery>/sensor/<id>/<object>/config and
//   <discovery>/binary_sensor/<id>/recording/config
//                               Home Assistant's discovery (retained).
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
    };

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
    // level (an id) has no '/' either. The reason a part is refused, or an
    // empty text when it may be used.
    static QString topicPartError(const QString &part, bool singleLevel);

    MeterPublisher(const Settings &settings, Sink sink);

    // Empty until the id is known (--id, or the first status).
    QString nodeId() const { return id; }
    QByteArray availabilityTopic() const;
    QByteArray discoveryStatusTopic() const;

    // The stream's status and readings, taken as they come.
    void status(const MeterStream::Status &status) override;
    void reading(const MeterStream::Reading &reading) override;
    // Sends the state when the interval is over.
    void tick(const QDateTime &now);

    // After every (re)connect: availability, and the discovery once the
    // status is known.
    void brokerConnected();
    // A message on the one subscribed topic: Home Assistant's "online" asks
    // for the discovery again.
    void takeMessage(const QByteArray &topic, const QByteArray &payload);
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
    void setOnline(bool on);
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
    Window rms;
    Window pep;
    QDateTime windowStart;
};

#endif // METERPUBLISHER_H
