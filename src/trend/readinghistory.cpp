#include "readinghistory.h"

#include <algorithm>
#include <cmath>

// A reading and its share of its block's summary stay well under 24 bytes.
static_assert(sizeof(ReadingHistory::Reading) == 16);

namespace {

// The column of a time: columns of `width` ms counted from the epoch, so
// that a column holds the same readings however the span is placed.
qint64 columnOf(qint64 msecs, qint64 width)
{
    return msecs >= 0 ? msecs / width : -((-msecs + width - 1) / width);
}

// The lowest and the highest level of the column being read, by their
// places. A column's run is handed to `put` as one or two places, in the
// order they came, when a place in another column is taken and at flush().
struct ColumnRun
{
    qint64 number = 0;
    qint64 minAt = -1, maxAt = -1;
    double minimum = 0.0, maximum = 0.0;

    template <typename Put>
    void take(qint64 column, qint64 lowAt, double low, qint64 highAt, double high, const Put &put)
    {
        if (column != number)
            flush(put);
        number = column;
        if (minAt < 0 || low < minimum) {
            minAt = lowAt;
            minimum = low;
        }
        if (maxAt < 0 || high > maximum) {
            maxAt = highAt;
            maximum = high;
        }
    }
    template <typename Put> void flush(Put put)
    {
        if (minAt < 0)
            return;
        put(std::min(minAt, maxAt));
        if (minAt != maxAt)
            put(std::max(minAt, maxAt));
        minAt = maxAt = -1;
    }
};

} // namespace

ReadingHistory::Reading::Reading(qint64 msecs, Kind kind, double level, Unit unit,
                                 bool startsSegment)
    : stamp((msecs << FlagBits) | (kind == Pep ? KindFlag : 0) | (unit == Unit::Dbv ? DbvFlag : 0) |
            (startsSegment ? SegmentFlag : 0)),
      value(level)
{
}

ReadingHistory::ReadingHistory(int capacity)
    : maxBlocks((std::max(capacity, 1) + BlockSize - 1) / BlockSize + 1)
{
    // 16 bytes a reading, and the summaries add about one more.
    static_assert(sizeof(Block) <= 17 * BlockSize + 128);
}

double ReadingHistory::powerOf(double level)
{
    // 10^(level/10), as e^(level ln 10 / 10): the same number, in half the time.
    constexpr double Ln10By10 = 0.23025850929940456840;
    return std::exp(level * Ln10By10);
}

void ReadingHistory::append(qint64 msecs, Kind kind, double level, Unit unit)
{
    Block &block = appendReading(msecs, kind, level, unit);
    if (block.raw)
        block.raw[(count - 1) % BlockSize] = level;
}

void ReadingHistory::append(qint64 msecs, Kind kind, double level, Unit unit, double rawLevel)
{
    Block &block = appendReading(msecs, kind, level, unit);
    const int offset = int((count - 1) % BlockSize);
    if (!block.raw) {
        // The block's readings before this one were taken as they came.
        block.raw = std::make_unique<double[]>(BlockSize);
        for (int i = 0; i < offset; ++i)
            block.raw[i] = block.readings[i].level();
        ++rawBlocks;
    }
    block.raw[offset] = rawLevel;
}

ReadingHistory::Block &ReadingHistory::appendReading(qint64 msecs, Kind kind, double level,
                                                     Unit unit)
{
    msecs = std::max(msecs, lastMs);
    lastMs = msecs;

    KindState &state = kindState[kind];
    const bool startsSegment =
        !state.any || state.gapMarked || msecs - state.lastMs > GapMs || state.unit != unit;
    state = KindState{true, false, msecs, unit};

    const int offset = int(count % BlockSize);
    if (offset == 0) {
        if (int(blocks.size()) == maxBlocks) {
            rawBlocks -= blocks.front().raw ? 1 : 0;
            blocks.pop_front();
            ++firstBlock;
            count -= BlockSize;
        }
        blocks.emplace_back();
    }
    Block &block = blocks.back();
    block.readings[offset] = Reading(msecs, kind, level, unit, startsSegment);
    block.segmentInside = block.segmentInside || startsSegment;

    Summary &summary = block.kinds[kind];
    if (summary.count == 0 || level < summary.minimum) {
        summary.minimum = level;
        summary.minAt = quint8(offset);
    }
    if (summary.count == 0 || level > summary.maximum) {
        summary.maximum = level;
        summary.maxAt = quint8(offset);
    }
    summary.powerSum += powerOf(level);
    ++summary.count;
    ++count;
    return block;
}

void ReadingHistory::markGap()
{
    for (KindState &state : kindState)
        state.gapMarked = true;
}

void ReadingHistory::clear()
{
    blocks.clear();
    firstBlock = 0;
    count = 0;
    rawBlocks = 0;
    for (KindState &state : kindState)
        state = KindState{};
    lastMs = 0;
}

const ReadingHistory::Reading &ReadingHistory::at(qint64 index) const
{
    Q_ASSERT(index >= firstIndex() && index < endIndex());
    return blockOf(index).readings[index % BlockSize];
}

double ReadingHistory::rawLevel(qint64 index) const
{
    const Block &block = blockOf(index);
    return block.raw ? block.raw[index % BlockSize] : at(index).level();
}

qint64 ReadingHistory::indexAt(qint64 msecs) const
{
    // The first block whose newest reading is not before `msecs`, then the
    // reading in it.
    qint64 low = 0, high = qint64(blocks.size());
    const auto lastOf = [this](qint64 block) {
        const qint64 end = std::min((firstBlock + block + 1) * BlockSize, endIndex());
        return at(end - 1).msecs();
    };
    while (low < high) {
        const qint64 middle = (low + high) / 2;
        if (lastOf(middle) < msecs)
            low = middle + 1;
        else
            high = middle;
    }
    if (low == qint64(blocks.size()))
        return endIndex();
    const Block &block = blocks[size_t(low)];
    const int used = int(std::min<qint64>(BlockSize, endIndex() - (firstBlock + low) * BlockSize));
    const Reading *found =
        std::partition_point(block.readings, block.readings + used,
                             [msecs](const Reading &r) { return r.msecs() < msecs; });
    return (firstBlock + low) * BlockSize + (found - block.readings);
}

qint64 ReadingHistory::nearest(qint64 msecs, Kind kind) const
{
    // Readings of both kinds come in turn; a few blocks either way find one
    // if there is any near.
    constexpr qint64 Reach = 4 * BlockSize;
    const qint64 middle = indexAt(msecs);
    qint64 after = -1, before = -1;
    for (qint64 i = middle; i < std::min(endIndex(), middle + Reach) && after < 0; ++i)
        if (at(i).kind() == kind)
            after = i;
    for (qint64 i = middle - 1; i >= std::max(firstIndex(), middle - Reach) && before < 0; --i)
        if (at(i).kind() == kind)
            before = i;
    if (after < 0 || before < 0)
        return std::max(after, before);
    return msecs - at(before).msecs() <= at(after).msecs() - msecs ? before : after;
}

ReadingHistory::Statistics ReadingHistory::statistics(qint64 fromMs, qint64 toMs) const
{
    Statistics result;
    const qint64 begin = indexAt(fromMs);
    const qint64 end = std::max(begin, indexAt(toMs));
    if (begin == end)
        return result;
    result.unit = at(end - 1).unit();

    StatisticsSum sums[KindCount];
    for (qint64 i = begin; i < end;) {
        const Block &block = blockOf(i);
        if (i % BlockSize == 0 && i + BlockSize <= end && !block.segmentInside) {
            // A whole block without a segment start holds one unit per kind.
            for (int k = 0; k < KindCount; ++k) {
                const Summary &s = block.kinds[k];
                if (s.count > 0 && block.readings[s.minAt].unit() == result.unit)
                    sums[k].add(s.count, s.minimum, s.maximum, s.powerSum);
            }
            i += BlockSize;
            continue;
        }
        const Reading &r = block.readings[i % BlockSize];
        if (r.unit() == result.unit)
            sums[r.kind()].add(r.level());
        ++i;
    }
    for (int k = 0; k < KindCount; ++k)
        result.kinds[k] = sums[k].result();
    return result;
}

void ReadingHistory::StatisticsSum::add(qint64 n, double minimum, double maximum, double powers)
{
    if (n <= 0)
        return;
    sum.minimum = sum.count == 0 ? minimum : std::min(sum.minimum, minimum);
    sum.maximum = sum.count == 0 ? maximum : std::max(sum.maximum, maximum);
    sum.count += n;
    powerSum += powers;
}

ReadingHistory::KindStatistics ReadingHistory::StatisticsSum::result() const
{
    KindStatistics out = sum;
    if (out.count > 0)
        out.powerAverage = 10.0 * std::log10(powerSum / double(out.count));
    return out;
}

ReadingHistory::KindStatistics ReadingHistory::lineStatistics(const Line &line, qint64 fromMs,
                                                              qint64 toMs)
{
    StatisticsSum sum;
    for (const Point &point : line)
        if (point.msecs >= fromMs && point.msecs <= toMs)
            sum.add(point.level);
    return sum.result();
}

ReadingHistory::Line ReadingHistory::lineColumnExtremes(const Line &line, qint64 fromMs,
                                                        qint64 toMs, qint64 columnMs)
{
    columnMs = std::max<qint64>(columnMs, 1);
    Line result;
    ColumnRun run;
    const auto put = [&](qint64 i) { result.push_back(line[size_t(i)]); };
    for (size_t i = 0; i < line.size(); ++i) {
        const Point &p = line[i];
        if (p.msecs >= fromMs && p.msecs <= toMs)
            run.take(columnOf(p.msecs, columnMs), qint64(i), p.level, qint64(i), p.level, put);
    }
    run.flush(put);
    return result;
}

std::vector<ReadingHistory::Line> ReadingHistory::columnExtremes(Kind kind, qint64 fromMs,
                                                                 qint64 toMs, qint64 columnMs) const
{
    std::vector<Line> lines;
    columnMs = std::max<qint64>(columnMs, 1);
    const qint64 begin = indexAt(fromMs);
    const qint64 end = std::max(begin, indexAt(toMs));

    Line line;
    ColumnRun run;
    const auto put = [&](qint64 i) { line.push_back(Point{at(i).msecs(), at(i).level()}); };
    for (qint64 i = begin; i < end;) {
        const Block &block = blockOf(i);
        if (i % BlockSize == 0 && i + BlockSize <= end && !block.segmentInside) {
            const qint64 number = columnOf(block.readings[0].msecs(), columnMs);
            if (number == columnOf(block.readings[BlockSize - 1].msecs(), columnMs)) {
                // The whole block falls in one column: its summary will do.
                const Summary &s = block.kinds[kind];
                if (s.count > 0)
                    run.take(number, i + s.minAt, s.minimum, i + s.maxAt, s.maximum, put);
                i += BlockSize;
                continue;
            }
        }
        const Reading &r = block.readings[i % BlockSize];
        if (r.kind() == kind) {
            if (r.startsSegment()) {
                run.flush(put);
                if (!line.empty())
                    lines.push_back(std::move(line));
                line = Line();
            }
            run.take(columnOf(r.msecs(), columnMs), i, r.level(), i, r.level(), put);
        }
        ++i;
    }
    run.flush(put);
    if (!line.empty())
        lines.push_back(std::move(line));
    return lines;
}
