// The history of the run's readings: statistics of a span, the segments a
// chart draws, the bound on what it keeps, the columns' extremes the chart is
// drawn from, the reading the mouse points at, and the raw levels its CSV
// gains while a correction is on.

#include "historycsv.h"
#include "livelog.h"
#include "readinghistory.h"
#include "trendtexts.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QTest>

#include <map>

using History = ReadingHistory;

Q_DECLARE_METATYPE(std::vector<double>)

namespace {

// RMS and PEP in turn, 100 ms apart, as the meter sends them.
void appendTurns(History &history, const std::vector<double> &levels, qint64 startMs = 0,
                 History::Unit unit = History::Unit::Dbm)
{
    for (size_t i = 0; i < levels.size(); ++i)
        history.append(startMs + qint64(i) * 100, i % 2 ? History::Pep : History::Rms, levels[i],
                       unit);
}

} // namespace

class TestReadingHistory : public QObject
{
    Q_OBJECT

private slots:
    void statistics_data();
    void statistics();
    void segments_data();
    void segments();
    void keepsTheNewestDay_data();
    void keepsTheNewestDay();
    void columnsKeepTheirExtremes_data();
    void columnsKeepTheirExtremes();
    void cursorShowsTheNearestReadings_data();
    void cursorShowsTheNearestReadings();
    void csvGainsTheRawLevel_data();
    void csvGainsTheRawLevel();
};

void TestReadingHistory::statistics_data()
{
    QTest::addColumn<std::vector<double>>("rms");
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<double>("average");

    QTest::newRow("power, not dB, is averaged")
        << std::vector<double>{-10, -20} << -20.0 << -10.0 << -12.596;
    QTest::newRow("one reading") << std::vector<double>{7.5} << 7.5 << 7.5 << 7.5;
    QTest::newRow("equal levels") << std::vector<double>{-30, -30, -30} << -30.0 << -30.0 << -30.0;
    QTest::newRow("a strong reading rules")
        << std::vector<double>{0, -40, -40, -40} << -40.0 << 0.0 << -6.019;
    // Enough for whole blocks, whose summaries stand in for their readings.
    std::vector<double> ramp;
    for (int i = 0; i < 1000; ++i)
        ramp.push_back(-50.0 + (i % 100) / 10.0);
    QTest::newRow("many blocks") << ramp << -50.0 << -40.1 << -44.130;
}

void TestReadingHistory::statistics()
{
    QFETCH(std::vector<double>, rms);
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    QFETCH(double, average);

    // RMS readings with PEP readings 10 dB above between them, and some of
    // both outside the span on either side.
    History history;
    std::vector<double> levels{-99, -99};
    for (double level : rms) {
        levels.push_back(level);
        levels.push_back(level + 10);
    }
    levels.insert(levels.end(), {99, 99});
    appendTurns(history, levels);
    const qint64 from = 200, to = qint64(levels.size() - 2) * 100;

    const History::Statistics s = history.statistics(from, to);
    QCOMPARE(s.kinds[History::Rms].count, qint64(rms.size()));
    QCOMPARE(s.kinds[History::Rms].minimum, minimum);
    QCOMPARE(s.kinds[History::Rms].maximum, maximum);
    QVERIFY2(qAbs(s.kinds[History::Rms].powerAverage - average) < 0.001,
             qPrintable(QString::number(s.kinds[History::Rms].powerAverage)));
    QCOMPARE(s.kinds[History::Pep].count, qint64(rms.size()));
    QVERIFY(qAbs(s.kinds[History::Pep].powerAverage - (average + 10)) < 0.001);
}

void TestReadingHistory::segments_data()
{
    // Each step: milliseconds after the one before, level, 'V' for dBV, 'G'
    // for a lost meter before the reading. All are RMS readings but those
    // marked 'P'.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QList<int>>("lineLengths");
    QTest::addColumn<int>("statisticsCount");

    QTest::newRow("steady") << QStringList{"0", "200", "200", "200"} << QList<int>{4} << 4;
    QTest::newRow("2 s without a reading still joins")
        << QStringList{"0", "2000", "200"} << QList<int>{3} << 3;
    QTest::newRow("more than 2 s is a gap")
        << QStringList{"0", "2001", "200"} << QList<int>{1, 2} << 3;
    QTest::newRow("readings of the other kind do not bridge a gap")
        << QStringList{"0", "1000P", "1000P", "1000"} << QList<int>{1, 1} << 2;
    QTest::newRow("lost meter") << QStringList{"0", "200", "200G", "200"} << QList<int>{2, 2} << 4;
    QTest::newRow("audio head fitted and taken off")
        << QStringList{"0", "200", "200V", "200V", "200", "200"} << QList<int>{2, 2, 2} << 4;
    QTest::newRow("a clock set back keeps the order")
        << QStringList{"5000", "-3000", "3200"} << QList<int>{2} << 3;
}

void TestReadingHistory::segments()
{
    QFETCH(QStringList, steps);
    QFETCH(QList<int>, lineLengths);
    QFETCH(int, statisticsCount);

    History history;
    qint64 ms = 1000000;
    for (QString step : steps) {
        const History::Unit unit = step.contains('V') ? History::Unit::Dbv : History::Unit::Dbm;
        const History::Kind kind = step.contains('P') ? History::Pep : History::Rms;
        if (step.contains('G'))
            history.markGap();
        ms += step.remove(QRegularExpression("[VPG]")).toLongLong();
        history.append(ms, kind, -20.0, unit);
    }

    // Columns of one millisecond: every reading is a point of its line.
    QList<int> lengths;
    const qint64 end = ms + 10000;
    for (const History::Line &line : history.columnExtremes(History::Rms, 0, end, 1))
        lengths.append(int(line.size()));
    QCOMPARE(lengths, lineLengths);
    // The statistics count the unit of the newest reading only.
    QCOMPARE(history.statistics(0, end).kinds[History::Rms].count, qint64(statisticsCount));
}

void TestReadingHistory::keepsTheNewestDay_data()
{
    QTest::addColumn<int>("capacity");
    QTest::addColumn<int>("appended");

    QTest::newRow("not yet full") << 1000 << 999;
    QTest::newRow("just over") << 1000 << 1001;
    QTest::newRow("many times over") << 1000 << 10000;
    QTest::newRow("a day at the meter's rate and then some")
        << History::DayCapacity << History::DayCapacity + 5000;
}

void TestReadingHistory::keepsTheNewestDay()
{
    QFETCH(int, capacity);
    QFETCH(int, appended);

    History history(capacity);
    for (int i = 0; i < appended; ++i)
        history.append(qint64(i) * 100, i % 2 ? History::Pep : History::Rms, i % 50,
                       History::Unit::Dbm);

    QVERIFY(history.size() >= qMin(capacity, appended));
    QVERIFY(history.size() <= capacity + History::BlockSize);
    QCOMPARE(history.endIndex(), qint64(appended));
    // The newest readings are the ones kept, each still in its place.
    for (qint64 i :
         {history.firstIndex(), (history.firstIndex() + appended) / 2, qint64(appended - 1)}) {
        QCOMPARE(history.at(i).msecs(), i * 100);
        QCOMPARE(history.at(i).level(), double(i % 50));
    }
    QCOMPARE(history.indexAt(0), history.firstIndex());
    QCOMPARE(history.statistics(0, qint64(appended) * 100).kinds[History::Rms].count +
                 history.statistics(0, qint64(appended) * 100).kinds[History::Pep].count,
             history.size());
}

void TestReadingHistory::columnsKeepTheirExtremes_data()
{
    QTest::addColumn<qint64>("columnMs");
    QTest::addColumn<int>("gapEvery");

    // Columns narrower than a block, about one, and many blocks wide.
    for (qint64 columnMs : {300, 3200, 6400, 86400}) {
        QTest::addRow("columns of %lld ms", columnMs) << columnMs << 0;
        QTest::addRow("columns of %lld ms, gaps", columnMs) << columnMs << 997;
    }
}

void TestReadingHistory::columnsKeepTheirExtremes()
{
    QFETCH(qint64, columnMs);
    QFETCH(int, gapEvery);

    History history;
    QRandomGenerator random(columnMs + gapEvery);
    qint64 ms = 12345;
    for (int i = 0; i < 50000; ++i) {
        ms += gapEvery && i % gapEvery == 0 ? 5000 : 100;
        history.append(ms, i % 2 ? History::Pep : History::Rms, random.bounded(1000) / 10.0 - 60.0,
                       History::Unit::Dbm);
    }
    const qint64 from = 400000, to = ms - 300000;

    // Each column's extremes and segments, reading by reading.
    std::map<qint64, std::pair<double, double>> extremes;
    int segments = 0;
    for (qint64 i = history.indexAt(from); i < history.indexAt(to); ++i) {
        const History::Reading &r = history.at(i);
        if (r.kind() != History::Rms)
            continue;
        segments += r.startsSegment() || segments == 0;
        auto [it, fresh] = extremes.try_emplace(r.msecs() / columnMs, r.level(), r.level());
        it->second.first = qMin(it->second.first, r.level());
        it->second.second = qMax(it->second.second, r.level());
    }

    const std::vector<History::Line> lines =
        history.columnExtremes(History::Rms, from, to, columnMs);
    QCOMPARE(int(lines.size()), segments);
    std::map<qint64, std::pair<double, double>> drawn;
    std::map<qint64, int> pointsPerColumn;
    qint64 previous = 0;
    for (const History::Line &line : lines) {
        for (const History::Point &p : line) {
            QVERIFY(p.msecs >= previous);
            previous = p.msecs;
            const qint64 column = p.msecs / columnMs;
            auto [it, fresh] = drawn.try_emplace(column, p.level, p.level);
            it->second.first = qMin(it->second.first, p.level);
            it->second.second = qMax(it->second.second, p.level);
            ++pointsPerColumn[column];
        }
    }
    QCOMPARE(drawn, extremes);
    // Two points a column, and two more where a segment ends inside one.
    for (const auto &[column, points] : pointsPerColumn)
        QVERIFY(points <= (gapEvery ? 4 : 2));

    // A plain line (a downloaded recording's) gives one segment's very points.
    if (gapEvery == 0) {
        History::Line all;
        for (qint64 i = history.firstIndex(); i < history.endIndex(); ++i)
            if (history.at(i).kind() == History::Rms)
                all.push_back({history.at(i).msecs(), history.at(i).level()});
        const History::Line line = History::lineColumnExtremes(all, from, to - 1, columnMs);
        QCOMPARE(line.size(), lines.at(0).size());
        for (size_t i = 0; i < line.size(); ++i)
            QVERIFY(line[i].msecs == lines[0][i].msecs && line[i].level == lines[0][i].level);
    }
}

void TestReadingHistory::cursorShowsTheNearestReadings_data()
{
    QTest::addColumn<qint64>("atMs"); // after 12:00:00
    QTest::addColumn<QString>("text");

    QTest::newRow("before the first")
        << qint64(-1000) << "12:00:00.000   RMS -10.0 dBm   PEP -5.5 dBm";
    QTest::newRow("the time of the nearer kind")
        << qint64(140) << "12:00:00.100   RMS -20.0 dBm   PEP -5.5 dBm";
    QTest::newRow("halfway between two of a kind: the earlier")
        << qint64(100) << "12:00:00.100   RMS -10.0 dBm   PEP -5.5 dBm";
    QTest::newRow("as near to both kinds: the RMS reading's time")
        << qint64(250) << "12:00:00.200   RMS -20.0 dBm   PEP -6.5 dBm";
    QTest::newRow("an audio head after a pause")
        << qint64(4000) << "12:00:05.000   RMS -30.0 dBV   PEP -6.5 dBm";
}

void TestReadingHistory::cursorShowsTheNearestReadings()
{
    QFETCH(qint64, atMs);
    QFETCH(QString, text);
    const qint64 noon = QDateTime(QDate(2024, 3, 1), QTime(12, 0)).toMSecsSinceEpoch();
    History history;
    QCOMPARE(TrendTexts::liveCursor(history, noon), QString());
    appendTurns(history, {-10, -5.5, -20, -6.5}, noon);
    history.append(noon + 5000, History::Rms, -30, History::Unit::Dbv);
    QCOMPARE(TrendTexts::liveCursor(history, noon + atMs), text);
}

void TestReadingHistory::csvGainsTheRawLevel_data()
{
    // Readings in a history of two blocks, one shown as +30 dBm corrected
    // from -10 dBm (none for -1).
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("correctedAt");
    QTest::addColumn<bool>("rawColumn");

    QTest::newRow("no correction") << 3 << -1 << false;
    QTest::newRow("corrected inside the first block") << 73 << 2 << true;
    QTest::newRow("corrected reading dropped with its block") << 129 << 0 << false;
}

void TestReadingHistory::csvGainsTheRawLevel()
{
    QFETCH(int, count);
    QFETCH(int, correctedAt);
    QFETCH(bool, rawColumn);

    History history(1);
    for (int i = 0; i < count; ++i) {
        if (i == correctedAt)
            history.append(i, History::Rms, 30, History::Unit::Dbm, -10);
        else
            history.append(i, History::Pep, -1.5, History::Unit::Dbm);
    }
    const QByteArrayList lines = historyCsv(history).split('\n');
    QCOMPARE(lines.first(), LiveLog::csvHeader() + (rawColumn ? ";raw_level" : ""));
    // Each level beside itself but the corrected one.
    for (int i = 1; i < lines.size() - 1; ++i) {
        const QByteArrayList fields = lines[i].split(';');
        QCOMPARE(fields.size(), rawColumn ? 12 : 11);
        if (rawColumn)
            QCOMPARE(fields.last(), fields[2] == "30" ? QByteArray("-10") : fields[2]);
    }
}

QTEST_GUILESS_MAIN(TestReadingHistory)
#include "tst_readinghistory.moc"
