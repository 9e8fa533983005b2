#ifndef TRENDWINDOW_H
#define TRENDWINDOW_H

#include "readinghistory.h"

#include <QByteArray>
#include <QTime>
#include <QTimer>
#include <QVector>
#include <QWidget>

#include <functional>

class QComboBox;
class QLabel;
class QPushButton;
class QTabWidget;
class TrendChartView;

// The window "Verlauf": the run's readings as a live chart that follows the
// newest reading over a chosen span, the statistics of what it shows, the
// reading under the mouse, the downloaded recording as a chart of its own,
// and the exports of the picture (PNG) and of the history (CSV).
//
// It reads the history the main window fills and does its work only while it
// is shown: new readings cost a flag while it is hidden.
class TrendWindow : public QWidget
{
    Q_OBJECT

public:
    explicit TrendWindow(const ReadingHistory &history, QWidget *parent = nullptr);

    // The spans of the live chart, in the order of the span box; 0 is the
    // whole run.
    static constexpr qint64 SpansMs[] = {60 * 1000, 10 * 60 * 1000, 3600 * 1000, 8 * 3600 * 1000,
                                         0};

    // New readings are in the history.
    void historyChanged();
    // The downloaded data sets, levels in hundredths of a dBm: data set n
    // (counting from 1) at start plus n intervals, as the listing has it.
    void showRecording(const QTime &start, int intervalSec, const int *rms, const int *pep,
                       int count);
    // Shows the window, or brings it to the front where it was.
    void showAndRaise();
    // Draws the live chart now for the history as it is.
    void refreshLive();

    // "RMS  Min -23.4 dBm  Max ..." for both kinds.
    static QString statisticsText(const ReadingHistory::Statistics &statistics);
    // The history as CSV, the command-line tool's live log lines.
    static QByteArray historyCsv(const ReadingHistory &history);
    // The chart on show as a PNG at twice the window's pixels.
    QByteArray chartPng() const;

public slots:
    void saveImage();
    void saveHistory();

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void followLive();
    void liveZoomed();
    void recordingZoomed();
    void refreshRecording(qint64 fromMs, qint64 toMs);
    void showLiveCursor(qint64 msecs);
    void showRecordingCursor(qint64 msecs);
    QString levelText(double level, ReadingHistory::Unit unit) const;
    // `type`: the file type the dialog offers, and then the one chosen.
    void saveFile(const QString &caption, const QString &name, const QString &filter,
                  const std::function<QByteArray()> &bytes, QString *type = nullptr);
    qint64 recordingMs(int n) const;

    const ReadingHistory &history;
    QComboBox *spanBox;
    QPushButton *followButton;
    QTabWidget *tabs;
    TrendChartView *liveChart;
    TrendChartView *recordingChart;
    QLabel *statisticsLabel;
    QLabel *cursorLabel;

    QTimer refreshTimer;
    int refreshDelayMs = 0;
    bool liveStale = true;
    bool liveZoomedIn = false;
    qint64 zoomFromMs = 0, zoomToMs = 0;

    // The recording as the listing last showed it.
    QTime recordingStart;
    int recordingIntervalSec = 1;
    QVector<int> recordingRms, recordingPep;
};

#endif // TRENDWINDOW_H
