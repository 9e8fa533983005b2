#ifndef LIVELOG_H
#define LIVELOG_H

#include "meterstream.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QDateTime>

#include <utility>

// The live readings as lines of a log: one line per reading and status the
// meter's stream hands it, stamped with the time it came, as CSV (';' between fields, a header line
// first) or as JSON Lines. Levels are in dBm or dBV as the stream reads them; the voltage is in
// volts, the power in watts and empty for an audio head. Numbers always use '.' as decimal point.
class LiveLog : public MeterStream::Receiver
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
    // The lines of the readings and status since the last call.
    QByteArrayList takeLines() { return std::exchange(lines, {}); }

    void reading(const MeterStream::Reading &reading) override;
    void status(const MeterStream::Status &status) override;

private:
    Format format;
    QByteArrayList lines;
};

#endif // LIVELOG_H
