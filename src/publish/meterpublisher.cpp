#include "meterpublisher.h"

#include "livedisplay.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace {

constexpr qsizetype MaxTopicPartBytes = 100;

// One entity of Home Assistant's discovery, and when it is there: always,
// with limits (set, or settable), or with commands.
struct Entity
{
    const char *object;
    const char *name;
    const char *valueTemplate;
    enum { Level, Power, Text, Flag, Problem, Count, Number, Button } type;
    enum { Always, WithLimits, WithCommands } when;
};

const Entity Entities[] = {
    {"rms_level", "RMS level", "{{ value_json.rms.level }}", Entity::Level, Entity::Always},
    {"pep_level", "PEP level", "{{ value_json.pep.level }}", Entity::Level, Entity::Always},
    {"rms_power", "RMS power", "{{ value_json.rms.power_W }}", Entity::Power, Entity::Always},
    {"pep_power", "PEP power", "{{ value_json.pep.power_W }}", Entity::Power, Entity::Always},
    {"head", "Head", "{{ value_json.status.head }}", Entity::Text, Entity::Always},
    {"recording", "Recording", "{{ 'ON' if value_json.status.recording else 'OFF' }}", Entity::Flag,
     Entity::Always},
    {"limit", "Grenzwert", "{{ 'ON' if value_json.limit in ['low', 'high'] else 'OFF' }}",
     Entity::Problem, Entity::WithLimits},
    {"limit_count", "Grenzwertverletzungen", "{{ value_json.limit_count }}", Entity::Count,
     Entity::WithLimits},
    // A null renders as "None", which Home Assistant shows as unknown.
    {"limit_low", "Grenzwert unten", "{{ value_json.limit_low }}", Entity::Number,
     Entity::WithCommands},
    {"limit_high", "Grenzwert oben", "{{ value_json.limit_high }}", Entity::Number,
     Entity::WithCommands},
    {"offset", "Offset", "{{ value_json.offset }}", Entity::Number, Entity::WithCommands},
    {"clear", "Zaehler loeschen", nullptr, Entity::Button, Entity::WithCommands},
};

// The command topics under <prefix>/<id>/set/, named as the entities that send to them.
const char *const CommandLeaves[] = {"limit_low", "limit_high", "offset", "clear"};

const char *component(decltype(Entity::type) type)
{
    switch (type) {
    case Entity::Flag:
    case Entity::Problem:
        return "binary_sensor";
    case Entity::Number:
        return "number";
    case Entity::Button:
        return "button";
    default:
        return "sensor";
    }
}

// A payload in a message line: short, one line, printable.
QString shown(const QByteArray &payload)
{
    QString text = QString::fromUtf8(payload.left(40));
    for (QChar &c : text)
        if (!c.isPrint())
            c = QLatin1Char('?');
    return payload.size() > 40 ? text + QStringLiteral("...") : text;
}

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
    const auto nodeIdChar = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-';
    };
    if (singleLevel && !std::all_of(bytes.cbegin(), bytes.cend(), nodeIdChar))
        return tr("darf nur A-Z, a-z, 0-9, '_' und '-' enthalten");
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

QList<QByteArray> MeterPublisher::subscriptions() const
{
    QList<QByteArray> topics;
    if (settings.discovery)
        topics.append(discoveryStatusTopic());
    if (settings.commands && !id.isEmpty())
        for (const char *leaf : CommandLeaves)
            topics.append(topic("set/") + leaf);
    return topics;
}

void MeterPublisher::setControls(const Limits *limits, const MeasurementSettings *measurement)
{
    this->limits = limits;
    this->measurement = measurement;
}

bool MeterPublisher::limitsShown() const
{
    return limits && (settings.commands || limits->settings().isSet());
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
        requestDiscovery();
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
    sendPendingDiscovery();
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
        requestDiscovery();
}

void MeterPublisher::brokerLost()
{
    brokerUp = false;
}

std::optional<MeterPublisher::Command>
MeterPublisher::takeMessage(const QByteArray &topic, const QByteArray &payload, QString *error)
{
    error->clear();
    if (settings.discovery && topic == discoveryStatusTopic()) {
        if (payload.trimmed() == "online" && meterStatus)
            requestDiscovery();
        return std::nullopt;
    }
    const QByteArray commandPrefix = this->topic("set/");
    if (!settings.commands || id.isEmpty() || !limits || !measurement ||
        !topic.startsWith(commandPrefix))
        return std::nullopt;
    return command(topic.mid(commandPrefix.size()), payload, error);
}

// The one place a command's value is read; what is valid is the settings'
// own rule (LimitSettings::error(), the offset's range).
std::optional<MeterPublisher::Command>
MeterPublisher::command(const QByteArray &leaf, const QByteArray &payload, QString *error) const
{
    const QByteArray text = payload.trimmed();
    const QString said = tr("Befehl %1 \"%2\"").arg(QString::fromUtf8(leaf), shown(payload));
    const auto refuse = [&](const QString &why) {
        *error = tr("%1 ignoriert: %2").arg(said, why);
        return std::nullopt;
    };
    Command command;
    command.description = tr("%1 uebernommen.").arg(said);
    if (leaf == "clear") {
        command.kind = Command::ClearCount;
        return command;
    }
    const bool limit = leaf == "limit_low" || leaf == "limit_high";
    if (!limit && leaf != "offset")
        return refuse(tr("unbekannter Befehl."));
    // A limit is switched off with an empty payload or "none".
    std::optional<double> value;
    if (!(limit && (text.isEmpty() || text.toLower() == "none"))) {
        bool ok = false;
        value = text.toDouble(&ok);
        if (!ok || !std::isfinite(*value))
            return refuse(tr("keine Zahl."));
    }
    if (limit) {
        command.kind = Command::SetLimits;
        command.limits = limits->settings();
        (leaf == "limit_low" ? command.limits.low : command.limits.high) = value;
        const QString why = command.limits.error();
        if (!why.isEmpty())
            return refuse(why);
        return command;
    }
    if (std::fabs(*value) > MeasurementSettings::OffsetLimitDb)
        return refuse(tr("Der Offset liegt ausserhalb von -%1 bis %1 dB.")
                          .arg(MeasurementSettings::OffsetLimitDb));
    command.kind = Command::SetMeasurement;
    command.measurement = *measurement;
    command.measurement.offsetDb = *value;
    return command;
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

void MeterPublisher::requestDiscovery()
{
    discoveryPending = true;
    sendPendingDiscovery();
}

// A burst asked for within the pause after the last is sent when the pause is
// over, once: it then tells what is in force.
void MeterPublisher::sendPendingDiscovery()
{
    if (!discoveryPending || !brokerUp || !settings.discovery || !meterStatus || id.isEmpty())
        return;
    if (lastDiscovery.isValid() && !lastDiscovery.hasExpired(DiscoveryPauseMs))
        return;
    discoveryPending = false;
    lastDiscovery.start();
    sendDiscovery();
}

// The discovery configs, one per entity, for the head now fitted: an audio
// head measures in dBV and has no power, so the power entities are removed
// (an empty retained config) while it is fitted.
void MeterPublisher::sendDiscovery()
{
    const QJsonObject device{
        {"identifiers", QJsonArray{QStringLiteral("tavrolinde_") + id}},
        {"name", QStringLiteral("Tavrolinde %1").arg(meterStatus->serialNumber)},
        {"model", LiveDisplay::headName(meterStatus->headType)},
        {"sw_version", Protocol::firmwareText(settings.firmwareNumber).mid(3)}};
    // A few intervals without a state, and Home Assistant shows "unavailable".
    const qint64 expireSec = qMax<qint64>(5, (3 * settings.intervalMs + 999) / 1000);
    for (const Entity &entity : Entities) {
        if ((entity.when == Entity::WithLimits && !limitsShown()) ||
            (entity.when == Entity::WithCommands && !settings.commands))
            continue;
        const QByteArray configTopic =
            (settings.discoveryPrefix + QLatin1Char('/') + QLatin1String(component(entity.type)) +
             QLatin1Char('/') + id + QLatin1Char('/') + QLatin1String(entity.object) +
             QStringLiteral("/config"))
                .toUtf8();
        if (entity.type == Entity::Power && audio) {
            sink({configTopic, QByteArray(), 1, true});
            continue;
        }
        QJsonObject config{{"name", entity.name},
                           {"unique_id", QStringLiteral("tavrolinde_%1_%2").arg(id, entity.object)},
                           {"object_id", QStringLiteral("%1_%2").arg(id, entity.object)},
                           {"availability_topic", QString::fromUtf8(availabilityTopic())},
                           {"device", device}};
        if (entity.valueTemplate) {
            config.insert(QLatin1String("state_topic"), QString::fromUtf8(topic("state")));
            config.insert(QLatin1String("value_template"), entity.valueTemplate);
        }
        if (entity.type == Entity::Number || entity.type == Entity::Button)
            config.insert(QLatin1String("command_topic"),
                          QString::fromUtf8(topic("set/") + entity.object));
        else
            config.insert(QLatin1String("expire_after"), expireSec);
        if (entity.type == Entity::Number) {
            const double range = qstrcmp(entity.object, "offset") == 0
                                     ? MeasurementSettings::OffsetLimitDb
                                     : LimitSettings::LevelLimitDb;
            config.insert(QLatin1String("min"), -range);
            config.insert(QLatin1String("max"), range);
            config.insert(QLatin1String("step"), 0.1);
            config.insert(QLatin1String("unit_of_measurement"), "dB");
            config.insert(QLatin1String("mode"), "box");
        } else if (entity.type == Entity::Problem) {
            config.insert(QLatin1String("device_class"), "problem");
        } else if (entity.type == Entity::Count) {
            config.insert(QLatin1String("state_class"), "total_increasing");
        }
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
    QJsonObject state{{"time", LiveLog::timeText(when)},
                      {"rms", level(rms)},
                      {"pep", level(pep)},
                      {"status", LiveLog::statusJson(*meterStatus)}};
    if (limitsShown()) {
        const char *name = Limits::stateName(limits->state());
        state.insert(QLatin1String("limit"), *name ? QJsonValue(name) : QJsonValue());
        state.insert(QLatin1String("limit_count"), limits->violationCount());
    }
    if (settings.commands && limits && measurement) {
        const auto optional = [](const std::optional<double> &v) {
            return v ? QJsonValue(*v) : QJsonValue();
        };
        state.insert(QLatin1String("limit_low"), optional(limits->settings().low));
        state.insert(QLatin1String("limit_high"), optional(limits->settings().high));
        state.insert(QLatin1String("offset"), measurement->offsetDb);
    }
    rms = Window{{}, {}, rms.last, rms.lastRaw};
    pep = Window{{}, {}, pep.last, pep.lastRaw};
    windowStart = QDateTime();
    return QJsonDocument(state).toJson(QJsonDocument::Compact);
}
