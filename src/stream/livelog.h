#ifndef LIVELOG_H
#define LIVELOG_H

#include "meterstream.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <optional>
#include <utility>

// The live readings as lines of a log: one line per reading and status the
// meter's stream hands it, stamped with the time it came, as CSV (';' between fields, a header line
// first) or as JSON Lines, or as InfluxDB's line protocol (measurement "tavrolinde", tags id, kind
// and unit, nanoseconds since 1970). Levels are in dBm, or in dBV while an audio head is fitted
// (the head of the last status message, an RF head before the first); the voltage is in volts, the
// power in watts and empty for an audio head. Numbers always use '.' as decimal point.
//
// With corrections on (an offset, a table, an average or a reference), the levels are the
// corrected ones and every format gains the field "raw_level", the level as the meter sent it
// (the last column in CSV). A level relative to a reference has the unit "dBr"; its voltage and
// power are those of the corrected absolute level. With limits set, every format gains the field
// "limit" after it. Without corrections and limits every line is what it always was.
class LiveLog : public MeterStream::Receiver
{
public:
    enum class Format { Csv, JsonLines, Influx };

    explicit LiveLog(Format format) : format(format) {}

    // The CSV log's header line and the CSV line of one RMS or PEP reading:
    // the one writer for every CSV file of readings (the command-line tool's
    // live log and the trend window's saved history).
    // With `rawLevel` the line gains it as its last column, as the header
    // does with `withRawLevel`. With `absolute`, `level` is relative to a
    // reference (dBr) and the voltage and power are those of `absolute`.
    static QByteArray csvHeader(bool withRawLevel = false, bool withLimit = false);
    static QByteArray levelCsvLine(const QDateTime &when, Protocol::LevelKind kind, double level,
                                   bool audioHead, std::optional<double> rawLevel = std::nullopt,
                                   std::optional<double> absolute = std::nullopt);

    // The JSON fields of one reading ("level", "unit", "voltage_V",
    // "power_W", null for an audio head) and of one status ("head",
    // "number", "max_level_dBm", "attenuator_dB", "recording", null until
    // the meter has said 0 or 1): the one place for their names and numbers,
    // shared by the JSON lines and the state messages of `publish`.
    static QJsonObject levelJson(double level, bool audioHead,
                                 std::optional<double> absolute = std::nullopt);
    static QJsonObject statusJson(const MeterStream::Status &status);
    // Local time with milliseconds and the offset from UTC (ISO 8601).
    static QString timeText(const QDateTime &when);

    // Corrections are on: every line carries the raw level. Set before the
    // header is taken.
    void setCorrected(bool on) { corrected = on; }
    // Limits are set: every line carries the field "limit" after the raw
    // level ("ok", "low" or "high" for the limited kind, empty or null for
    // the other and for status lines). Set before the header is taken.
    void setLimited(bool on) { limited = on; }

    // The line before all others; empty for JSON Lines and Influx.
    QByteArray header() const;
    // The lines of the readings and status since the last call.
    QByteArrayList takeLines() { return std::exchange(lines, {}); }

    void reading(const MeterStream::Reading &reading) override;
    void status(const MeterStream::Status &status) override;

private:
    QByteArray influxLine(const char *kind, const char *unit, const QByteArray &fields,
                          const QDateTime &when) const;

    Format format;
    bool corrected = false;
    bool limited = false;
    std::optional<int> meterNumber; // the meter's, from its last status
    QByteArrayList lines;
};

#endif // LIVELOG_H
