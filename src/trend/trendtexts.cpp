#include "trendtexts.h"

#include "livedisplay.h"
#include "recordingseries.h"

#include <QDateTime>
#include <QStringList>

#include <cstdlib>
#include <limits>

namespace {

QString levelText(double level, ReadingHistory::Unit unit)
{
    return LiveDisplay::levelTexts(level, unit == ReadingHistory::Unit::Dbv).level;
}

} // namespace

QString TrendTexts::statistics(const ReadingHistory::Statistics &statistics)
{
    QStringList lines;
    for (int k = 0; k < ReadingHistory::KindCount; ++k) {
        const ReadingHistory::KindStatistics &s = statistics.kinds[k];
        const QString kind = k == ReadingHistory::Rms ? tr("RMS") : tr("PEP");
        const auto level = [&](double l) { return levelText(l, statistics.unit); };
        if (s.count == 0)
            lines.append(tr("%1: keine Messwerte").arg(kind));
        else
            lines.append(tr("%1: Minimum %2   Maximum %3   Mittelwert (Leistung) %4   %5 Werte")
                             .arg(kind, level(s.minimum), level(s.maximum), level(s.powerAverage))
                             .arg(s.count));
    }
    return lines.join(QLatin1Char('\n'));
}

QString TrendTexts::levelTitle(ReadingHistory::Unit unit)
{
    return tr("Pegel (%1)")
        .arg(unit == ReadingHistory::Unit::Dbv ? QStringLiteral("dBV") : QStringLiteral("dBm"));
}

QString TrendTexts::liveCursor(const ReadingHistory &history, qint64 msecs)
{
    const qint64 rms = history.nearest(msecs, ReadingHistory::Rms);
    const qint64 pep = history.nearest(msecs, ReadingHistory::Pep);
    if (rms < 0 && pep < 0)
        return QString();
    const auto distance = [&](qint64 index) {
        return index < 0 ? std::numeric_limits<qint64>::max()
                         : std::abs(history.at(index).msecs() - msecs);
    };
    const ReadingHistory::Reading &nearest = history.at(distance(rms) <= distance(pep) ? rms : pep);
    QString text =
        QDateTime::fromMSecsSinceEpoch(nearest.msecs()).toString(QStringLiteral("HH:mm:ss.zzz"));
    if (rms >= 0)
        text += tr("   RMS %1").arg(levelText(history.at(rms).level(), history.at(rms).unit()));
    if (pep >= 0)
        text += tr("   PEP %1").arg(levelText(history.at(pep).level(), history.at(pep).unit()));
    return text;
}

QString TrendTexts::recordingCursor(const RecordingSeries &recording, qint64 msecs)
{
    const int i = recording.nearest(msecs);
    if (i < 0)
        return QString();
    return tr("Datensatz %1   %2   RMS %3 dBm   PEP %4 dBm")
        .arg(i + 1)
        .arg(QDateTime::fromMSecsSinceEpoch(recording.msecsOf(i + 1))
                 .toString(QStringLiteral("HH:mm:ss")))
        .arg(QString::asprintf("%.2f", recording.line(ReadingHistory::Rms)[size_t(i)].level),
             QString::asprintf("%.2f", recording.line(ReadingHistory::Pep)[size_t(i)].level));
}
