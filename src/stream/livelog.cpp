#include "livelog.h"

#include "livedisplay.h"
#include "protocol.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

// A number for the log: empty when it is not finite (a level far beyond
// any real one gives an infinite voltage).
QByteArray number(double value, int precision)
{
    return std::isfinite(value) ? QByteArray::number(value, 'g', precision) : QByteArray();
}

QByteArray shortest(double value)
{
    return number(value, QLocale::FloatingPointShortest);
}

// A number for JSON, to `digits` significant digits as in the CSV log; null
// when it is not finite.
QJsonValue jsonNumber(double value, int digits = QLocale::FloatingPointShortest)
{
    return std::isfinite(value) ? QJsonValue(number(value, digits).toDouble()) : QJsonValue();
}

// Local time with milliseconds and the offset from UTC, as ISO 8601 has it.
QByteArray timeStamp(const QDateTime &when)
{
    return when.toOffsetFromUtc(when.offsetFromUtc()).toString(Qt::ISODateWithMs).toLatin1();
}

// Text for the line protocol, the characters `special` and '\' escaped
// with '\': ",= " in tag values, '"' in string fields. A line end would end
// the line, so it becomes a blank.
QByteArray influxEscaped(const QByteArray &value, const char *special)
{
    QByteArray out;
    for (char c : value) {
        if (c == '\\' || QByteArray(special).contains(c))
            out += '\\';
        out += c == '\n' || c == '\r' ? ' ' : c;
    }
    return out;
}

// A float field, or nothing where the value is not finite (the protocol has
// no NaN nor infinity).
QByteArray influxField(const char *key, double value, int digits)
{
    const QByteArray text = number(value, digits);
    return text.isEmpty() ? QByteArray() : QByteArray(",") + key + '=' + text;
}

// Significant digits of voltages and powers: more than any meter resolves.
constexpr int ValueDigits = 6;

const char *unitOf(bool audioHead, bool relative)
{
    return relative ? "dBr" : audioHead ? "dBV" : "dBm";
}

} // namespace

QByteArray LiveLog::csvHeader(bool withRawLevel, bool withLimit)
{
    QByteArray header = "time;kind;level;unit;voltage_V;power_W;head;number;max_level_dBm;"
                        "attenuator_dB;recording";
    if (withRawLevel)
        header += ";raw_level";
    if (withLimit)
        header += ";limit";
    return header;
}

QByteArray LiveLog::levelCsvLine(const QDateTime &when, Protocol::LevelKind kind, double level,
                                 bool audioHead, std::optional<double> rawLevel,
                                 std::optional<double> absolute)
{
    const double powerLevel = absolute.value_or(level);
    const QByteArray volts = number(LiveDisplay::levelVolts(powerLevel, audioHead), ValueDigits);
    const QByteArray watts =
        audioHead ? QByteArray() : number(LiveDisplay::levelWatts(powerLevel), ValueDigits);
    QByteArray line = timeStamp(when) + (kind == Protocol::Rms ? ";rms;" : ";pep;") +
                      shortest(level) + ';' + unitOf(audioHead, bool(absolute)) + ';' + volts +
                      ';' + watts + ";;;;;";
    if (rawLevel)
        line += ';' + shortest(*rawLevel);
    return line;
}

QJsonObject LiveLog::levelJson(double level, bool audioHead, std::optional<double> absolute)
{
    const double powerLevel = absolute.value_or(level);
    return {{"level", jsonNumber(level)},
            {"unit", unitOf(audioHead, bool(absolute))},
            {"voltage_V", jsonNumber(LiveDisplay::levelVolts(powerLevel, audioHead), ValueDigits)},
            {"power_W", audioHead ? QJsonValue()
                                  : jsonNumber(LiveDisplay::levelWatts(powerLevel), ValueDigits)}};
}

QJsonObject LiveLog::statusJson(const MeterStream::Status &status)
{
    return {{"head", LiveDisplay::headName(status.headType)},
            {"number", status.serialNumber},
            {"max_level_dBm", jsonNumber(status.maxLevelDbm)},
            {"attenuator_dB", jsonNumber(status.attenuatorDb)},
            {"recording", status.recording ? QJsonValue(*status.recording) : QJsonValue()}};
}

QString LiveLog::timeText(const QDateTime &when)
{
    return QString::fromLatin1(timeStamp(when));
}

QByteArray LiveLog::header() const
{
    return format == Format::Csv ? csvHeader(corrected, limited) : QByteArray();
}

// "tavrolinde,id=meter7,kind=rms,unit=dBm level=-20.1,... 1700000000000000000";
// the id once a status has given the meter's number. `fields` begins with ','.
QByteArray LiveLog::influxLine(const char *kind, const char *unit, const QByteArray &fields,
                               const QDateTime &when) const
{
    QByteArray line = "tavrolinde";
    if (meterNumber)
        line += ",id=" + influxEscaped("meter" + QByteArray::number(*meterNumber), ",= ");
    line += QByteArray(",kind=") + kind;
    if (unit)
        line += QByteArray(",unit=") + unit;
    return line + ' ' + fields.mid(1) + ' ' + QByteArray::number(when.toMSecsSinceEpoch()) +
           "000000";
}

void LiveLog::reading(const MeterStream::Reading &reading)
{
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(reading.timeMs);
    // A corrected level is a sum or an average, whose last binary digits are
    // noise ("-0.1999999999999993"): to 0.0001 dB, more than any head resolves.
    const double level = corrected ? std::round(reading.level * 10000.0) / 10000.0 : reading.level;
    const bool audio = reading.audioHead;
    const std::optional<double> absolute =
        reading.relative ? std::optional<double>(reading.absoluteLevel) : std::nullopt;
    const double powerLevel = absolute.value_or(level);
    const char *kind = reading.kind == Protocol::Rms ? "rms" : "pep";
    const char *limit = Limits::stateName(reading.limit); // empty for the other kind
    if (format == Format::Csv) {
        QByteArray line = levelCsvLine(
            when, reading.kind, level, audio,
            corrected ? std::optional<double>(reading.rawLevel) : std::nullopt, absolute);
        if (limited)
            line += QByteArray(";") + limit;
        lines << line;
    } else if (format == Format::Influx) {
        QByteArray fields =
            influxField("level", level, QLocale::FloatingPointShortest) +
            influxField("voltage_V", LiveDisplay::levelVolts(powerLevel, audio), ValueDigits);
        if (!audio)
            fields += influxField("power_W", LiveDisplay::levelWatts(powerLevel), ValueDigits);
        if (corrected)
            fields += influxField("raw_level", reading.rawLevel, QLocale::FloatingPointShortest);
        if (limited && *limit)
            fields += QByteArray(",limit=\"") + limit + '"';
        // A line without a field is no line of the protocol: a level that is
        // not a number leaves none.
        if (!fields.isEmpty())
            lines << influxLine(kind, unitOf(audio, reading.relative), fields, when);
    } else {
        QJsonObject line = levelJson(level, audio, absolute);
        line.insert(QLatin1String("time"), timeText(when));
        line.insert(QLatin1String("kind"), kind);
        if (corrected)
            line.insert(QLatin1String("raw_level"), jsonNumber(reading.rawLevel));
        if (limited)
            line.insert(QLatin1String("limit"), *limit ? QJsonValue(limit) : QJsonValue());
        lines << QJsonDocument(line).toJson(QJsonDocument::Compact);
    }
}

// The recording as the window shows it: unknown until a status says 0 or 1.
void LiveLog::status(const MeterStream::Status &status)
{
    const QDateTime when = QDateTime::currentDateTime();
    const std::optional<bool> &recording = status.recording;
    meterNumber = status.serialNumber;
    const QString head = LiveDisplay::headName(status.headType);
    if (format == Format::Influx) {
        const QByteArray shown =
            recording ? QByteArray(*recording ? ",recording=true" : ",recording=false")
                      : QByteArray();
        lines << influxLine(
            "status", nullptr,
            ",head=\"" + influxEscaped(head.toUtf8(), "\"") + '"' +
                ",number=" + QByteArray::number(status.serialNumber) + 'i' +
                influxField("max_level_dBm", status.maxLevelDbm, QLocale::FloatingPointShortest) +
                influxField("attenuator_dB", status.attenuatorDb, QLocale::FloatingPointShortest) +
                shown,
            when);
    } else if (format == Format::Csv) {
        const QByteArray shown = recording ? QByteArray(*recording ? "1" : "0") : QByteArray();
        lines << timeStamp(when) + ";status;;;;;" + head.toUtf8() + ';' +
                     QByteArray::number(status.serialNumber) + ';' + shortest(status.maxLevelDbm) +
                     ';' + shortest(status.attenuatorDb) + ';' + shown + (corrected ? ";" : "") +
                     (limited ? ";" : "");
    } else {
        QJsonObject line = statusJson(status);
        line.insert(QLatin1String("time"), timeText(when));
        line.insert(QLatin1String("kind"), "status");
        lines << QJsonDocument(line).toJson(QJsonDocument::Compact);
    }
}
