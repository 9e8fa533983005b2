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

QByteArray jsonLine(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// Local time with milliseconds and the offset from UTC, as ISO 8601 has it.
QByteArray timeStamp(const QDateTime &when)
{
    return when.toOffsetFromUtc(when.offsetFromUtc()).toString(Qt::ISODateWithMs).toLatin1();
}

// Significant digits of voltages and powers: more than any meter resolves.
constexpr int ValueDigits = 6;

} // namespace

QByteArray LiveLog::csvHeader()
{
    return QByteArrayLiteral("time;kind;level;unit;voltage_V;power_W;head;number;max_level_dBm;"
                             "attenuator_dB;recording");
}

QByteArray LiveLog::levelCsvLine(const QDateTime &when, Protocol::LevelKind kind, double level,
                                 bool audioHead)
{
    const QByteArray volts = number(LiveDisplay::levelVolts(level, audioHead), ValueDigits);
    const QByteArray watts =
        audioHead ? QByteArray() : number(LiveDisplay::levelWatts(level), ValueDigits);
    return timeStamp(when) + (kind == Protocol::Rms ? ";rms;" : ";pep;") + shortest(level) + ';' +
           (audioHead ? "dBV" : "dBm") + ';' + volts + ';' + watts + ";;;;;";
}

QByteArray LiveLog::header() const
{
    return format == Format::JsonLines ? QByteArray() : csvHeader();
}

void LiveLog::reading(const MeterStream::Reading &reading)
{
    const QDateTime when = QDateTime::currentDateTime();
    const double level = reading.level;
    const bool audio = reading.audioHead;
    if (format == Format::Csv) {
        lines << levelCsvLine(when, reading.kind, level, audio);
        return;
    }
    lines << jsonLine(
        {{"time", QString::fromLatin1(timeStamp(when))},
         {"kind", reading.kind == Protocol::Rms ? "rms" : "pep"},
         {"level", jsonNumber(level)},
         {"unit", audio ? "dBV" : "dBm"},
         {"voltage_V", jsonNumber(LiveDisplay::levelVolts(level, audio), ValueDigits)},
         {"power_W",
          audio ? QJsonValue() : jsonNumber(LiveDisplay::levelWatts(level), ValueDigits)}});
}

// The recording as the window shows it: unknown until a status says 0 or 1.
void LiveLog::status(const MeterStream::Status &status)
{
    const QDateTime when = QDateTime::currentDateTime();
    const QString head = LiveDisplay::headName(status.headType);
    const std::optional<bool> &recording = status.recording;
    if (format == Format::Csv) {
        const QByteArray shown = recording ? QByteArray(*recording ? "1" : "0") : QByteArray();
        lines << timeStamp(when) + ";status;;;;;" + head.toUtf8() + ';' +
                     QByteArray::number(status.serialNumber) + ';' + shortest(status.maxLevelDbm) +
                     ';' + shortest(status.attenuatorDb) + ';' + shown;
        return;
    }
    lines << jsonLine({{"time", QString::fromLatin1(timeStamp(when))},
                       {"kind", "status"},
                       {"head", head},
                       {"number", status.serialNumber},
                       {"max_level_dBm", jsonNumber(status.maxLevelDbm)},
                       {"attenuator_dB", jsonNumber(status.attenuatorDb)},
                       {"recording", recording ? QJsonValue(*recording) : QJsonValue()}});
}
