#ifndef LIVELOG_H
#define LIVELOG_H

#include "meterstream.h"

#include <QByteArray>
#include <QDateTime>

// The live readings as lines of a log: one line per reading and status of
// the meter's stream, as CSV (';' between fields, a header line first) or as
// JSON Lines. Levels are in dBm or dBV as the stream reads them; the voltage
// is in volts, the power in watts and empty for an audio head. Numbers always
// use '.' as decimal point.
class LiveLog
{
public:
    enum class Format { Csv, JsonLines };

    explicit LiveLog(Format format) : format(format) {}

    // The CSV log's header line and the CSV line of one RMS or PEP reading:
    // the one writer for every CSV file of readings (the command-line tool's
    // live log and the trend window's saved history).
    static QByteArray csvHeader();
    static QByteArray levelCsvLine(const QDateTime &when, Protocol::LevelKind kind, double level,
                                   bool audioHead);

    // The line before all others; empty for JSON Lines.
    QByteArray header() const;
    // The line of one reading or status, stamped with `when`.
    QByteArray readingLine(const MeterStream::Reading &reading, const QDateTime &when) const;
    QByteArray statusLine(const MeterStream::Status &status, const QDateTime &when) const;

private:
    Format format;
};

#endif // LIVELOG_H
