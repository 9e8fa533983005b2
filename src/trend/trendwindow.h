#ifndef TRENDWINDOW_H
#define TRENDWINDOW_H

#include "recordingseries.h"

#include <QTimer>
#include <QWidget>

#include <optional>

class DownloadSession;
class QComboBox;
class QLabel;
class QPushButton;
class QTabWidget;
class ReadingHistory;
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

public slots:
    // New readings are in the history, or the meter was lost.
    void historyChanged();
    // The downloaded data sets as the listing shows them, timed from `start`.
    void showRecording(const QTime &start, const DownloadSession &download);
    // Shows the window, or brings it to the front where it was.
    void showAndRaise();
    // Dashed lines in the live chart at the limits of `kind` (RMS 0, PEP 1),
    // in the levels the chart shows; none for a limit not set.
    void setLimitLines(int kind, std::optional<double> low, std::optional<double> high);
    // Draws the live chart now for the history as it is.
    void refreshLive();
    void saveImage();
    void saveHistory();

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void followLive();
    void followPressed();
    void pageChanged(int page);
    void liveZoomed();
    void recordingZoomed();
    void refreshRecording(qint64 fromMs, qint64 toMs);
    void drawRecording();
    void showLiveCursor(qint64 msecs);
    void showRecordingCursor(qint64 msecs);
    void showCursor(const QString &text);
    void showStatistics(const QString &text);
    bool recordingShown() const;

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

    // The recording as the listing last showed it; its chart is drawn a pass
    // of the event loop later, so that a listing never waits for it.
    RecordingSeries recording;
    QTimer recordingTimer;
};

#endif // TRENDWINDOW_H
