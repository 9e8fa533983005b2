#include "livespan.h"

#include "readinghistory.h"

#include <algorithm>

LiveSpan LiveSpan::following(const ReadingHistory &history, int span, int pixels, qint64 nowMs)
{
    if (history.isEmpty())
        return {nowMs - SpansMs[0], nowMs, 1};
    const qint64 newest = history.at(history.endIndex() - 1).msecs();
    const qint64 oldest = history.at(history.firstIndex()).msecs();
    qint64 spanMs = SpansMs[std::clamp(span, 0, SpanCount - 1)];
    const bool wholeRun = spanMs == 0;
    if (wholeRun)
        spanMs = std::max<qint64>(newest - oldest, 60 * 1000);
    LiveSpan result;
    result.columnMs = columnWidth(spanMs, pixels);
    // The chart ends with the newest column and begins with a whole one, so
    // it moves a column at a time and the columns before stay as they were
    // drawn.
    result.toMs = (newest / result.columnMs + 1) * result.columnMs;
    result.fromMs =
        wholeRun ? std::min(oldest / result.columnMs * result.columnMs, result.toMs - 60 * 1000)
                 : result.toMs - spanMs;
    return result;
}

LiveSpan LiveSpan::zoomed(qint64 fromMs, qint64 toMs, int pixels)
{
    return {fromMs, toMs, columnWidth(toMs - fromMs, pixels)};
}

// A width that stays while the span grows keeps the columns, and with them
// the drawn points, as they were.
qint64 LiveSpan::columnWidth(qint64 spanMs, int pixels)
{
    const qint64 wanted = std::max<qint64>(1, spanMs / std::max(1, pixels));
    for (qint64 decade = 1;; decade *= 10)
        for (qint64 step : {1, 2, 5})
            if (step * decade >= wanted)
                return step * decade;
}

// The meter sends five readings of a kind a second: the chart is drawn again
// as often, or once a column of time when columns are longer, and at least
// once a second.
int LiveSpan::refreshDelayMs() const
{
    return int(std::clamp<qint64>(columnMs, 200, 1000));
}
