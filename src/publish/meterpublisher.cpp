#include "meterpublisher.h"

#include "livedisplay.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

constexpr qsizetype MaxTopicPartBytes = 100;

// One entity of Home Assistant's discovery.
struct Entity
{
    const char *object;
    const char *name;
    const char *valueTemplate;
    enum { Level, Power, Text, Flag } type;
};

const Entity Entities[] = {
    {"rms_level", "RMS level", "{{ value_json.rms.level }}", Entity::Level},
    {"pep_level", "PEP level", "{{ value_json.pep.level }}", Entity::Level},
    {"rms_power", "RMS power", "{{ value_json.rms.power_W }}", Entity::Power},
    {"pep_power", "PEP power", "{{ value_json.pep.power_W }}", Entity::Power},
    {"head", "Head", "{{ value_json.status.head }}", Entity::Text},
    {"recording", "Recording", "{{ 'ON' if value_json.status.recording else 'OFF' }}",
     Entity::Flag},
};

} // namespace

QString MeterPublisher::topicPartError(const QString &part, bool singleLevel)
{
    const QByteArray bytes = part.toUtf8();
    if (bytes.isEmpty())
        return tr("darf nicht leer sein");
    if (bytes.contains('+') || bytes.contains('#'))
        return tr("darf weder '+' noch '#' enthalten");
    if (bytes.contains('\0'))
        return tr("darf kein NUL-Zeichen enthalten");
    if (singleLevel && bytes.contains('/'))
        return tr("darf kein '/' enthalten");
    if (bytes.size() > MaxTopicPartBytes)
        return tr("ist laenger als %1 Bytes").arg(MaxTopicPartBytes);
    return QString();
}

MeterPublisher::MeterPublisher(const Settings &settings, Sink sink)
    : settings(settings), sink(std::move(sink)), id(settings.id)
{
}

QByteArray MeterPublisher::topic(const char *leaf) const
{
    return (settings.topicPrefix + QLatin1Char('/') + id + QLatin1Char('/')).toUtf8() + leaf;
}

QByteArray MeterPublisher::availabilityTopic() const
{
    return id.isEmpty() ? QByteArray() : topic("availability");
}

QByteArray MeterPublisher::discoveryStatusTopic() const
{
    return settings.discovery ? (settings.discoveryPrefix + QStringLiteral("/status")).toUtf8()
                              : QByteArray();
}

void MeterPublisher::status(const MeterStream::Status &report)
{
    const QDateTime when = QDateTime::currentDateTime();
    if (id.isEmpty())
        id = QStringLiteral("meter%1").arg(report.serialNumber);
    const bool audioNow = LiveDisplay::isAudioHead(report.headType);
    const bool headChanged = !meterStatus || meterStatus->headType != report.headType;
    if (meterStatus && audioNow != audio)
        clearReadings(); // levels of the old unit do not mix with the new
    audio = audioNow;
    meterStatus = report;
    if (headChanged)
        sendDiscovery();
    setOnline(true);
    tick(when);
}

void MeterPublisher::reading(const MeterStream::Reading &reading)
{
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(reading.timeMs);
    if (!meterStatus || reading.audioHead != audio)
        return;
    Window &window = reading.kind == Protocol::Rms ? rms : pep;
    // The connection has bounded the level as the display bounds it (a
    // damaged message may read as 1e300), so no sum overflows.
    window.sum.add(reading.level);
    if (settings.corrected)
        window.rawSum.add(reading.rawLevel);
    if (!windowStart.isValid())
        windowStart = when;
    if (settings.intervalMs == 0)
        sendState(when);
    else
        tick(when);
}

void MeterPublisher::tick(const QDateTime &now)
{
    if (settings.intervalMs > 0 && windowStart.isValid() &&
        windowStart.msecsTo(now) >= settings.intervalMs)
        sendState(now);
}

void MeterPublisher::brokerConnected()
{
    brokerUp = true;
    if (id.isEmpty())
        return;
    sink({availabilityTopic(), online ? "online" : "offline", 1, true});
    if (meterStatus)
        sendDiscovery();
}

void MeterPublisher::takeMessage(const QByteArray &topic, const QByteArray &payload)
{
    if (settings.discovery && topic == discoveryStatusTopic() && payload.trimmed() == "online" &&
        meterStatus)
        sendDiscovery();
}

void MeterPublisher::meterLost()
{
    clearReadings();
    setOnline(false);
}

void MeterPublisher::stop()
{
    if (!id.isEmpty())
        sink({availabilityTopic(), "offline", 1, true});
    online = false;
}

void MeterPublisher::setOnline(bool on)
{
    if (on == online || id.isEmpty())
        return;
    online = on;
    sink({availabilityTopic(), on ? "online" : "offline", 1, true});
}

void MeterPublisher::clearReadings()
{
    rms = Window();
    pep = Window();
    windowStart = QDateTime();
}

// The discovery configs, one per entity, for the head now fitted: an audio
// head measures in dBV and has no power, so the power entities are removed
// (an empty retained config) while it is fitted.
void MeterPublisher::sendDiscovery()
{
    if (!settings.discovery || !meterStatus || id.isEmpty())
        return;
    const QJsonObject device{
        {"identifiers", QJsonArray{QStringLiteral("tavrolinde_") + id}},
        {"name", QStringLiteral("Tavrolinde %1").arg(meterStatus->serialNumber)},
        {"model", LiveDisplay::headName(meterStatus->headType)},
        {"sw_version", Protocol::firmwareText(settings.firmwareNumber).mid(3)}};
    // A few intervals without a state, and Home Assistant shows "unavailable".
    const qint64 expireSec = qMax<qint64>(5, (3 * settings.intervalMs + 999) / 1000);
    for (const Entity &entity : Entities) {
        const bool binary = entity.type == Entity::Flag;
        const QByteArray configTopic =
            (settings.discoveryPrefix +
             (binary ? QStringLiteral("/binary_sensor/") : QStringLiteral("/sensor/")) + id +
             QLatin1Char('/') + QLatin1String(entity.object) + QStringLiteral("/config"))
                .toUtf8();
        if (entity.type == Entity::Power && audio) {
            sink({configTopic, QByteArray(), 1, true});
            continue;
        }
        QJsonObject config{{"name", entity.name},
                           {"unique_id", QStringLiteral("tavrolinde_%1_%2").arg(id, entity.object)},
                           {"object_id", QStringLiteral("%1_%2").arg(id, entity.object)},
                           {"state_topic", QString::fromUtf8(topic("state"))},
                           {"value_template", entity.valueTemplate},
                           {"availability_topic", QString::fromUtf8(availabilityTopic())},
                           {"expire_after", expireSec},
                           {"device", device}};
        if (entity.type == Entity::Level) {
            config.insert(QLatin1String("unit_of_measurement"), audio ? "dBV" : "dBm");
            if (!audio)
                config.insert(QLatin1String("device_class"), "signal_strength");
        } else if (entity.type == Entity::Power) {
            config.insert(QLatin1String("unit_of_measurement"), "W");
            config.insert(QLatin1String("device_class"), "power");
        }
        if (entity.type == Entity::Level || entity.type == Entity::Power)
            config.insert(QLatin1String("state_class"), "measurement");
        sink({configTopic, QJsonDocument(config).toJson(QJsonDocument::Compact), 1, true});
    }
}

void MeterPublisher::sendState(const QDateTime &when)
{
    if (rms.sum.count() == 0 && pep.sum.count() == 0)
        return;
    sink({topic("state"), stateJson(when), 0, false});
}

QByteArray MeterPublisher::stateJson(const QDateTime &when)
{
    // The interval's power average of RMS, its maximum of PEP; a kind without
    // a reading in it keeps its last level (a state for every reading has one
    // kind only).
    // The average to 0.01 dB: the meter's own levels have one decimal.
    const auto average = [](const ReadingHistory::StatisticsSum &sum) {
        return std::round(100.0 * sum.result().powerAverage) / 100.0;
    };
    if (rms.sum.count() > 0)
        rms.last = average(rms.sum);
    if (pep.sum.count() > 0)
        pep.last = pep.sum.result().maximum;
    if (rms.rawSum.count() > 0)
        rms.lastRaw = average(rms.rawSum);
    if (pep.rawSum.count() > 0)
        pep.lastRaw = pep.rawSum.result().maximum;
    const auto level = [this](const Window &w) {
        if (!w.last)
            return QJsonValue();
        QJsonObject json = LiveLog::levelJson(*w.last, audio);
        if (settings.corrected)
            json.insert(QLatin1String("raw_level"),
                        w.lastRaw ? QJsonValue(*w.lastRaw) : QJsonValue());
        return QJsonValue(json);
    };
    const QJsonObject state{{"time", LiveLog::timeText(when)},
                            {"rms", level(rms)},
                            {"pep", level(pep)},
                            {"status", LiveLog::statusJson(*meterStatus)}};
    rms = Window{{}, {}, rms.last, rms.lastRaw};
    pep = Window{{}, {}, pep.last, pep.lastRaw};
    windowStart = QDateTime();
    return QJsonDocument(state).toJson(QJsonDocument::Compact);
}
