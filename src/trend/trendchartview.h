#ifndef TRENDCHARTVIEW_H
#define TRENDCHARTVIEW_H

#include "readinghistory.h"

#include <QChartView>
#include <QList>
#include <QPointF>

#include <optional>
#include <vector>

class QDateTimeAxis;
class QLineSeries;
class QValueAxis;

// A chart of RMS and PEP levels against the time of day. Each kind's lines
// are drawn by a pool of line series, one per segment, so that no line
// crosses a gap. Lines that have not changed are not handed to the chart
// again, and the axes are set only when their range changes.
class TrendChartView : public QChartView
{
    Q_OBJECT

public:
    explicit TrendChartView(QWidget *parent = nullptr);

    void setLines(ReadingHistory::Kind kind, const std::vector<ReadingHistory::Line> &lines);
    // Sets the time axis, and the level axis to the lines drawn; not a zoom
    // of the user's.
    void setRanges(qint64 fromMs, qint64 toMs);
    void setLevelTitle(const QString &title);
    // Dashed lines across the chart at a lower and an upper limit, in the
    // colour of their kind; none for a limit not set. The level axis takes
    // them in.
    void setLimits(ReadingHistory::Kind kind, std::optional<double> low,
                   std::optional<double> high);
    qint64 shownFrom() const;
    qint64 shownTo() const;
    int plotWidth() const;

signals:
    // The mouse is over the chart at this time.
    void cursorMoved(qint64 msecs);
    // The user has zoomed the time axis: a drag with the left button zooms
    // in, the right button zooms out.
    void zoomedByUser();

protected:
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    QLineSeries *seriesFor(ReadingHistory::Kind kind, int index);
    void placeLimits();

    QDateTimeAxis *timeAxis;
    QValueAxis *levelAxis;
    QList<QLineSeries *> pools[ReadingHistory::KindCount];
    QList<QList<QPointF>> shown[ReadingHistory::KindCount];
    // The limit lines, made when a limit is first set.
    QLineSeries *limitSeries[2] = {nullptr, nullptr};
    std::optional<double> limitLevels[2];
    double lowest = 0.0, highest = -1.0;
    bool settingRanges = false;
};

#endif // TRENDCHARTVIEW_H
