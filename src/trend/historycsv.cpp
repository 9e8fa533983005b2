#include "historycsv.h"

#include "livelog.h"
#include "readinghistory.h"

#include <QDateTime>
#include <QLocale>

#include <cmath>
#include <limits>

QByteArray historyCsv(const ReadingHistory &history)
{
    // Looking up the local time zone for every reading takes most of the
    // time; its offset from UTC changes only on the hour or half hour, so it
    // is looked up once a quarter of an hour.
    constexpr qint64 QuarterMs = 15 * 60 * 1000;
    qint64 quarter = std::numeric_limits<qint64>::min();
    int offsetSeconds = 0;

    const bool raw = history.hasRawLevels();
    QByteArray bytes = LiveLog::csvHeader() + (raw ? ";raw_level\n" : "\n");
    bytes.reserve(qsizetype(history.size()) * 96 + bytes.size());
    for (qint64 i = history.firstIndex(); i < history.endIndex(); ++i) {
        const ReadingHistory::Reading &r = history.at(i);
        const qint64 ms = r.msecs();
        if (ms / QuarterMs != quarter) {
            quarter = ms / QuarterMs;
            offsetSeconds = QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc();
        }
        bytes += LiveLog::levelCsvLine(
            QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, offsetSeconds), r.kind(),
            r.level(), r.unit() == ReadingHistory::Unit::Dbv);
        if (raw) {
            // As the level: the shortest text that reads back the same number.
            const double level = history.rawLevel(i);
            bytes += ';';
            if (std::isfinite(level))
                bytes += QByteArray::number(level, 'g', QLocale::FloatingPointShortest);
        }
        bytes += '\n';
    }
    return bytes;
}
