#ifndef RECORDINGSERIES_H
#define RECORDINGSERIES_H

#include "readinghistory.h"

#include <QTime>

class DownloadSession;

// The downloaded recording as the chart draws it: data set n (counting from
// 1) at the time the listing gives it, going on past midnight into the next
// day, its levels in dBm. The points are made once per listing; the record
// store is read only then.
class RecordingSeries
{
public:
    // The data sets the download holds, timed from `start`.
    void set(const QTime &start, const DownloadSession &download);

    int count() const { return int(line(ReadingHistory::Rms).size()); }
    const ReadingHistory::Line &line(ReadingHistory::Kind kind) const { return lines[kind]; }
    // The line of `kind` as the chart draws it from `fromMs` to `toMs` in
    // columns of `columnMs`: the extremes of each column, so that a full
    // store costs the chart no more than its width.
    std::vector<ReadingHistory::Line> chartLines(ReadingHistory::Kind kind, qint64 fromMs,
                                                 qint64 toMs, qint64 columnMs) const;
    // The time of data set n on the chart (0: the start), in milliseconds
    // since the epoch, counted on a day without a change of summer time near
    // it.
    qint64 msecsOf(int n) const;
    // The data sets from `fromMs` to `toMs`, both included.
    ReadingHistory::Statistics statistics(qint64 fromMs, qint64 toMs) const;
    // The index of the data set nearest to `msecs`, or -1 if none.
    int nearest(qint64 msecs) const;

private:
    QTime start;
    int intervalSec = 1;
    // One line a kind.
    ReadingHistory::Line lines[ReadingHistory::KindCount];
};

#endif // RECORDINGSERIES_H
