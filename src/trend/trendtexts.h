#ifndef TRENDTEXTS_H
#define TRENDTEXTS_H

#include "readinghistory.h"

#include <QCoreApplication>
#include <QString>

class RecordingSeries;

// The texts of the window "Verlauf" under its charts: the statistics of what
// is shown, and the reading under the mouse.
class TrendTexts
{
    Q_DECLARE_TR_FUNCTIONS(TrendWindow)

public:
    // "RMS: Minimum -23.4 dBm   Maximum ..." and the same for PEP.
    static QString statistics(const ReadingHistory::Statistics &statistics);
    // "Pegel (dBm)", the level axis's title.
    static QString levelTitle(ReadingHistory::Unit unit);
    // The time of the reading nearest to `msecs` and the levels of the
    // nearest RMS and PEP readings; empty if the history has none near.
    static QString liveCursor(const ReadingHistory &history, qint64 msecs);
    // The number, time and levels of the data set nearest to `msecs`;
    // empty if there is none.
    static QString recordingCursor(const RecordingSeries &recording, qint64 msecs);
};

#endif // TRENDTEXTS_H
