#include "recordingseries.h"

#include "downloadsession.h"
#include "recordformat.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>

namespace {

const qint64 RecordingDayMs = QDateTime(QDate(2000, 1, 1), QTime(0, 0)).toMSecsSinceEpoch();

} // namespace

void RecordingSeries::set(const QTime &start, const DownloadSession &download)
{
    this->start = start.isValid() ? start : QTime(0, 0);
    intervalSec = download.recordIntervalSec;
    const int count = std::max(download.resultCount(), 0);
    ReadingHistory::Line &rms = lines[ReadingHistory::Rms];
    ReadingHistory::Line &pep = lines[ReadingHistory::Pep];
    rms.assign(size_t(count), {});
    pep.assign(size_t(count), {});
    for (int i = 0; i < count; ++i) {
        const qint64 ms = msecsOf(i + 1);
        rms[size_t(i)] = {ms, download.rmsValues[i] / 100.0};
        pep[size_t(i)] = {ms, download.pepValues[i] / 100.0};
    }
}

qint64 RecordingSeries::msecsOf(int n) const
{
    return RecordingDayMs + Records::recordTime(start, intervalSec, n, Records::TimeRun::Continue);
}

std::vector<ReadingHistory::Line> RecordingSeries::chartLines(ReadingHistory::Kind kind,
                                                              qint64 fromMs, qint64 toMs,
                                                              qint64 columnMs) const
{
    return {ReadingHistory::lineColumnExtremes(line(kind), fromMs, toMs, columnMs)};
}

ReadingHistory::Statistics RecordingSeries::statistics(qint64 fromMs, qint64 toMs) const
{
    ReadingHistory::Statistics result;
    for (int k = 0; k < ReadingHistory::KindCount; ++k)
        result.kinds[k] =
            ReadingHistory::lineStatistics(line(ReadingHistory::Kind(k)), fromMs, toMs);
    return result;
}

int RecordingSeries::nearest(qint64 msecs) const
{
    if (count() == 0 || intervalSec == 0)
        return -1;
    const double n = double(msecs - msecsOf(0)) / (intervalSec * 1000.0);
    return std::clamp(int(std::lround(n)) - 1, 0, count() - 1);
}
