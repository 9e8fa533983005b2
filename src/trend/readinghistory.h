#ifndef READINGHISTORY_H
#define READINGHISTORY_H

#include "protocol.h"

#include <QtGlobal>

#include <deque>
#include <memory>
#include <vector>

// Every RMS and PEP reading of the run, in the order they came, each with
// its time (milliseconds since the epoch) and its unit (dBm for RF heads,
// dBV for audio heads).
//
// The readings are kept in blocks of BlockSize, each with a summary per kind
// (minimum, maximum, sum of powers, count), so that the statistics and the
// chart's column extremes of a long span are read from the summaries and
// only the blocks at the ends of a span are read reading by reading. A
// reading takes 16 bytes plus its share of the summary. When the history
// holds its capacity, the oldest block is dropped.
//
// The levels are those shown. While a correction is on (an offset, a head's
// table, an average or a reference), the level as the meter sent it is kept
// beside each reading: 8 bytes more a reading, only in the blocks that hold
// such readings.
//
// A line is drawn only between neighbouring readings of one kind in one
// segment. A new segment begins after a gap (markGap(), when the meter was
// lost, or more than GapMs without a reading of that kind) and when the unit
// changes.
class ReadingHistory
{
public:
    using Kind = Protocol::LevelKind;
    static constexpr Kind Rms = Protocol::Rms;
    static constexpr Kind Pep = Protocol::Pep;
    static constexpr int KindCount = Protocol::LevelKindCount;
    enum class Unit { Dbm, Dbv };

    // 24 hours of five RMS and five PEP readings a second.
    static constexpr int DayCapacity = 24 * 3600 * 10;
    static constexpr qint64 GapMs = 2000;
    static constexpr int BlockSize = 64;

    class Reading
    {
    public:
        Reading() = default;
        Reading(qint64 msecs, Kind kind, double level, Unit unit, bool startsSegment);
        qint64 msecs() const { return stamp >> FlagBits; }
        Kind kind() const { return (stamp & KindFlag) ? Pep : Rms; }
        Unit unit() const { return (stamp & DbvFlag) ? Unit::Dbv : Unit::Dbm; }
        bool startsSegment() const { return stamp & SegmentFlag; }
        double level() const { return value; }

    private:
        // The time and three flags share one 64-bit word.
        static constexpr int FlagBits = 3;
        static constexpr qint64 KindFlag = 1, DbvFlag = 2, SegmentFlag = 4;
        qint64 stamp = 0;
        double value = 0.0;
    };

    // Holds at least `capacity` readings (the last ones) at any time.
    explicit ReadingHistory(int capacity = DayCapacity);

    // Appends a reading; O(1). Times are kept in order: a time before the
    // last one (a clock set back) counts as the last one's time.
    void append(qint64 msecs, Kind kind, double level, Unit unit);
    // Appends a reading shown corrected, with the level the meter sent.
    void append(qint64 msecs, Kind kind, double level, Unit unit, double rawLevel);
    // The meter was lost: the next reading of each kind starts a segment.
    void markGap();
    void clear();

    // Readings are numbered from the first of the run; the oldest kept is
    // firstIndex(), the newest endIndex() - 1.
    qint64 firstIndex() const { return firstBlock * BlockSize; }
    qint64 endIndex() const { return firstIndex() + count; }
    qint64 size() const { return count; }
    bool isEmpty() const { return count == 0; }
    const Reading &at(qint64 index) const;
    // The level the meter sent: the reading's own where no correction was on.
    double rawLevel(qint64 index) const;
    // Whether a reading kept was appended with a correction on.
    bool hasRawLevels() const { return rawBlocks > 0; }
    // The first reading at or after `msecs` (endIndex() if none).
    qint64 indexAt(qint64 msecs) const;
    // The reading of `kind` nearest in time to `msecs`, or -1.
    qint64 nearest(qint64 msecs, Kind kind) const;

    struct KindStatistics
    {
        qint64 count = 0;
        double minimum = 0.0;
        double maximum = 0.0;
        // 10 log10 of the mean of 10^(L/10): the level of the mean power.
        double powerAverage = 0.0;
    };
    struct Statistics
    {
        Unit unit = Unit::Dbm;
        KindStatistics kinds[KindCount];
    };
    // The readings from `fromMs` up to but not including `toMs`, of the unit
    // of the newest reading among them (a power average across dBm and dBV
    // means nothing).
    Statistics statistics(qint64 fromMs, qint64 toMs) const;

    // One point of a chart line, and the lines of one kind: each segment a
    // line of its own.
    struct Point
    {
        qint64 msecs;
        double level;
    };
    using Line = std::vector<Point>;
    // The lines of `kind` from `fromMs` up to `toMs`, at most two points per
    // column: time is cut into columns of `columnMs` counted from the epoch,
    // and each column gives its minimum and its maximum, in the order they
    // came (one point if it holds one reading). Columns cut where a segment
    // ends, so no line crosses a gap.
    std::vector<Line> columnExtremes(Kind kind, qint64 fromMs, qint64 toMs, qint64 columnMs) const;
    // The statistics of the points of `line` from `fromMs` to `toMs`, both
    // included (a chart of other readings, such as a downloaded recording).
    static KindStatistics lineStatistics(const Line &line, qint64 fromMs, qint64 toMs);
    // The points of `line` from `fromMs` to `toMs`, both included, cut into
    // columns as columnExtremes() does: at most its minimum and its maximum
    // of each run of points in one column, in the order they came.
    static Line lineColumnExtremes(const Line &line, qint64 fromMs, qint64 toMs, qint64 columnMs);

    static double powerOf(double level);

    // Adds up readings (or summaries of readings) to their statistics: the
    // one place for the power average, shared with whoever sums levels.
    class StatisticsSum
    {
    public:
        void add(double level) { add(1, level, level, powerOf(level)); }
        void add(qint64 n, double minimum, double maximum, double powerSum);
        qint64 count() const { return sum.count; }
        KindStatistics result() const;

    private:
        KindStatistics sum;
        double powerSum = 0.0;
    };

private:
    struct Summary
    {
        qint32 count = 0;
        quint8 minAt = 0, maxAt = 0; // offsets in the block
        double minimum = 0.0, maximum = 0.0;
        double powerSum = 0.0;
    };
    struct Block
    {
        Reading readings[BlockSize];
        Summary kinds[KindCount];
        // Some reading in the block starts a segment, so the block cannot be
        // read as a whole.
        bool segmentInside = false;
        // The raw levels, from the block's first corrected reading on.
        std::unique_ptr<double[]> raw;
    };

    const Block &blockOf(qint64 index) const
    {
        return blocks[size_t(index / BlockSize - firstBlock)];
    }

    Block &appendReading(qint64 msecs, Kind kind, double level, Unit unit);

    int maxBlocks;
    std::deque<Block> blocks;
    qint64 firstBlock = 0; // number of the oldest kept block since the run began
    qint64 count = 0;
    int rawBlocks = 0; // blocks kept that hold raw levels

    struct KindState
    {
        bool any = false;
        bool gapMarked = false;
        qint64 lastMs = 0;
        Unit unit = Unit::Dbm;
    };
    KindState kindState[KindCount];
    qint64 lastMs = 0;
};

#endif // READINGHISTORY_H
