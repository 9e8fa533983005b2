#ifndef LIVESPAN_H
#define LIVESPAN_H

#include <QtGlobal>

class ReadingHistory;

// The stretch of time the live chart shows, and the columns it is cut into:
// following the newest reading over a chosen span, or where the user zoomed.
// A column is as wide as a pixel or a little more, so that a chart of a day
// draws a few points per pixel instead of every reading.
struct LiveSpan
{
    // The spans of the span box, in its order; 0 is the whole run.
    static constexpr qint64 SpansMs[] = {60 * 1000, 10 * 60 * 1000, 3600 * 1000, 8 * 3600 * 1000,
                                         0};
    static constexpr int SpanCount = int(sizeof SpansMs / sizeof SpansMs[0]);

    qint64 fromMs = 0;
    qint64 toMs = 0;
    qint64 columnMs = 1;

    // The span `span` (an index in SpansMs) up to the newest reading, over a
    // chart `pixels` wide; the last minute before `nowMs` while the history
    // is empty.
    static LiveSpan following(const ReadingHistory &history, int span, int pixels, qint64 nowMs);
    // A stretch the user zoomed to.
    static LiveSpan zoomed(qint64 fromMs, qint64 toMs, int pixels);
    // 1, 2 or 5 times a power of ten milliseconds: the smallest that gives
    // `spanMs` no more columns than `pixels`.
    static qint64 columnWidth(qint64 spanMs, int pixels);
    // How long the chart waits before it is drawn again for new readings.
    int refreshDelayMs() const;
};

#endif // LIVESPAN_H
