#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "downloadsession.h"
#include "meterstream.h"
#include "readinghistory.h"

#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

QT_BEGIN_NAMESPACE
class QLabel;
class QProgressBar;
class QTimer;
class Ui_MainWindow;
QT_END_NAMESPACE

class LargeReadout;
class ListingDocument;
class MeterConnection;
class Modem;

// The one main window. It owns everything of a run: the form, the serial
// channel and the two timers, and through its connection to the meter the
// search for it, the meter's stream and the store of downloaded data sets.
// Its slots drive the connection and show what it says.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

signals:
    // A poll has put new readings into the history.
    void readingsTaken();
    // The meter has gone from its port; the history has a gap from here.
    void connectionLost();
    // The downloaded data sets have been listed, timed from `start`.
    void recordingListed(const QTime &start, const DownloadSession &download);
    // The limits of `kind` as "Verlauf" charts them (in absolute levels),
    // none where no limit is set or the reference is not known yet.
    void limitLinesChanged(int kind, std::optional<double> low, std::optional<double> high);

public slots:
    void fuellentxt();

private slots:
    void on_Buttonrefresh_clicked();
    void setAText(QString port);
    void getrs232();
    void datenholen();
    void fopentty();
    void datenspeichern();

private:
    friend struct MainWindowTestAccess;

    // Port scan (src/serial/window_discovery.cpp).
    void setUpDiscovery();
    void meterFound(const QString &port);
    void meterLost(const QString &port);

    // The live display (src/stream/window_decoder.cpp).
    void setUpLiveDisplay();
    void takeReading(const MeterStream::Reading &reading);
    void clearLiveValues();

    // Corrections of the readings (src/stream/window_measurement.cpp).
    void setUpMeasurement();
    void editMeasurement();
    void setReference();
    void keepMeasurement();
    void showCorrection();

    // Limits and the large readout (src/stream/window_limits.cpp).
    void setUpLimits();
    void showLimits();
    void showLargeReadout();
    void openLargeReadout();
    void chartLimits();

    // Record store (src/records/window_recordstore.cpp).
    void setUpDownloadStatus();
    void showDownloadResult();
    void showDownloadProgress();
    // The listing (src/records/window_listing.cpp).
    void setUpListing();
    void prepareListing();

    // Form and serial link.
    Ui_MainWindow *ui;
    Modem *modem;
    QString versionText;

    // The search for the meter and the poll of its stream, run by the
    // connection to the meter.
    QTimer *scanTimer;
    QTimer *pollTimer;
    MeterConnection *connection;
    // When and where the meter was lost, shown until a meter answers again.
    QLabel *lossLabel;
    // Why the last port that exists would not open ("Kein Zugriff auf ...").
    QLabel *accessLabel;

    // The download's progress in the status bar (the store is the
    // connection's).
    QLabel *downloadStatus = nullptr;
    QProgressBar *downloadProgress = nullptr;
    ListingDocument *listingDocument = nullptr;

    // Every RMS and PEP reading of the run, and the window "Verlauf" that
    // shows it and the downloaded recording (none where the program is built
    // without it); the window goes before the history it reads.
    ReadingHistory history;
    std::unique_ptr<QWidget> trendWindow;

    // The last reading of each kind since the meter was found.
    std::optional<MeterStream::Reading> lastReadings[Protocol::LevelKindCount];
    // While out of limits: what and since when; the level text shown red.
    QLabel *limitStatus = nullptr;
    QLabel *redLevel = nullptr;
    // The tone: how often it sounded, and when last (the connection's clock).
    int beepCount = 0;
    std::optional<qint64> lastBeepMs;
    // The limits "Verlauf" was last told.
    int chartedKind = -1;
    std::optional<double> chartedLow, chartedHigh;
    // "Grossanzeige", made when first opened.
    std::unique_ptr<LargeReadout> largeReadout;
};

#endif // MAINWINDOW_H
