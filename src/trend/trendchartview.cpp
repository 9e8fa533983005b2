#include "trendchartview.h"

#include <QDateTime>
#include <QDateTimeAxis>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace {

const QColor kindColors[ReadingHistory::KindCount] = {QColor(0x1f, 0x5f, 0xbf),
                                                      QColor(0xd0, 0x40, 0x20)};

} // namespace

TrendChartView::TrendChartView(QWidget *parent)
    : QChartView(new QChart, parent), timeAxis(new QDateTimeAxis), levelAxis(new QValueAxis)
{
    chart()->setMargins(QMargins(4, 4, 4, 4));
    chart()->legend()->setAlignment(Qt::AlignTop);
    timeAxis->setFormat(QStringLiteral("HH:mm:ss"));
    timeAxis->setTickCount(7);
    timeAxis->setTitleText(tr("Uhrzeit"));
    levelAxis->setLabelFormat(QStringLiteral("%.0f"));
    chart()->addAxis(timeAxis, Qt::AlignBottom);
    chart()->addAxis(levelAxis, Qt::AlignLeft);
    // The first series of each kind carries its name in the legend.
    seriesFor(ReadingHistory::Rms, 0);
    seriesFor(ReadingHistory::Pep, 0);

    setRenderHint(QPainter::Antialiasing, false);
    setRubberBand(QChartView::HorizontalRubberBand);
    setMouseTracking(true);
    connect(timeAxis, &QDateTimeAxis::rangeChanged, this, [this] {
        if (!settingRanges)
            emit zoomedByUser();
    });
}

QLineSeries *TrendChartView::seriesFor(ReadingHistory::Kind kind, int index)
{
    QList<QLineSeries *> &pool = pools[kind];
    while (pool.size() <= index) {
        auto *series = new QLineSeries;
        series->setName(kind == ReadingHistory::Rms ? tr("RMS") : tr("PEP"));
        series->setPen(QPen(kindColors[kind], 1));
        chart()->addSeries(series);
        series->attachAxis(timeAxis);
        series->attachAxis(levelAxis);
        if (!pool.isEmpty())
            for (QLegendMarker *marker : chart()->legend()->markers(series))
                marker->setVisible(false);
        pool.append(series);
        shown[kind].append(QList<QPointF>());
    }
    return pool[index];
}

void TrendChartView::setLines(ReadingHistory::Kind kind,
                              const std::vector<ReadingHistory::Line> &lines)
{
    QList<QList<QPointF>> &old = shown[kind];
    const int count = int(std::max<size_t>(lines.size(), size_t(old.size())));
    for (int i = 0; i < count; ++i) {
        QList<QPointF> points;
        if (i < int(lines.size())) {
            points.reserve(qsizetype(lines[size_t(i)].size()));
            for (const ReadingHistory::Point &p : lines[size_t(i)])
                points.append(QPointF(double(p.msecs), p.level));
        }
        if (i < old.size() && points == old[i])
            continue;
        seriesFor(kind, i)->replace(points);
        old[i] = points;
    }

    lowest = 0.0;
    highest = -1.0;
    bool any = false;
    for (const QList<QList<QPointF>> &kindLines : shown)
        for (const QList<QPointF> &line : kindLines)
            for (const QPointF &p : line) {
                lowest = any ? std::min(lowest, p.y()) : p.y();
                highest = any ? std::max(highest, p.y()) : p.y();
                any = true;
            }
}

void TrendChartView::setLimits(ReadingHistory::Kind kind, std::optional<double> low,
                               std::optional<double> high)
{
    limitLevels[0] = low;
    limitLevels[1] = high;
    if (!low && !high && !limitSeries[0])
        return; // no limit ever set: the chart as without them
    QPen pen(kindColors[kind], 1);
    pen.setDashPattern({6.0, 4.0});
    for (QLineSeries *&series : limitSeries) {
        if (!series) {
            series = new QLineSeries;
            series->setName(tr("Grenzwert"));
            chart()->addSeries(series);
            series->attachAxis(timeAxis);
            series->attachAxis(levelAxis);
        }
        series->setPen(pen);
    }
    // One entry in the legend for both lines, while there is a line.
    for (int i = 0; i < 2; ++i)
        for (QLegendMarker *marker : chart()->legend()->markers(limitSeries[i]))
            marker->setVisible(i == 0 && (low || high));
    placeLimits();
}

// The limit lines across the time axis as it is.
void TrendChartView::placeLimits()
{
    const double from = double(timeAxis->min().toMSecsSinceEpoch());
    const double to = double(timeAxis->max().toMSecsSinceEpoch());
    for (int i = 0; i < 2; ++i) {
        if (!limitSeries[i])
            continue;
        QList<QPointF> points;
        if (limitLevels[i])
            points = {QPointF(from, *limitLevels[i]), QPointF(to, *limitLevels[i])};
        if (limitSeries[i]->points() != points)
            limitSeries[i]->replace(points);
    }
}

void TrendChartView::setRanges(qint64 fromMs, qint64 toMs)
{
    settingRanges = true;
    const QDateTime from = QDateTime::fromMSecsSinceEpoch(fromMs);
    const QDateTime to = QDateTime::fromMSecsSinceEpoch(std::max(toMs, fromMs + 1));
    if (timeAxis->min() != from || timeAxis->max() != to)
        timeAxis->setRange(from, to);
    placeLimits();

    // The levels drawn and the limits, and a little room, at whole steps of
    // 1, 2, 5, 10, 20 or 50 dB, so that the labels are round numbers.
    double least = lowest, most = highest;
    for (const std::optional<double> &limit : limitLevels) {
        if (!limit)
            continue;
        const bool any = least <= most;
        least = any ? std::min(least, *limit) : *limit;
        most = any ? std::max(most, *limit) : *limit;
    }
    double low = -60.0, high = 0.0, step = 10.0;
    if (least <= most) {
        for (double s : {1.0, 2.0, 5.0, 10.0, 20.0, 50.0}) {
            step = s;
            if ((most - least + 1.0) / s <= 6.0)
                break;
        }
        low = std::floor((least - 0.5) / step) * step;
        high = std::ceil((most + 0.5) / step) * step;
    }
    if (levelAxis->min() != low || levelAxis->max() != high) {
        levelAxis->setRange(low, high);
        levelAxis->setTickCount(std::min(int(std::lround((high - low) / step)), 60) + 1);
    }
    settingRanges = false;
}

void TrendChartView::setLevelTitle(const QString &title)
{
    if (levelAxis->titleText() != title)
        levelAxis->setTitleText(title);
}

qint64 TrendChartView::shownFrom() const
{
    return timeAxis->min().toMSecsSinceEpoch();
}

qint64 TrendChartView::shownTo() const
{
    return timeAxis->max().toMSecsSinceEpoch();
}

int TrendChartView::plotWidth() const
{
    const int width = int(chart()->plotArea().width());
    return width > 10 ? width : std::max(100, this->width() - 80);
}

void TrendChartView::mouseMoveEvent(QMouseEvent *event)
{
    QChartView::mouseMoveEvent(event);
    const QPointF inChart = chart()->mapFromScene(mapToScene(event->position().toPoint()));
    if (chart()->plotArea().contains(inChart))
        emit cursorMoved(qint64(chart()->mapToValue(inChart).x()));
}
