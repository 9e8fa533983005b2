#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "downloadsession.h"
#include "metersearch.h"
#include "meterstream.h"
#include "readinghistory.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <memory>

QT_BEGIN_NAMESPACE
class QLabel;
class QProgressBar;
class QTimer;
class Ui_MainWindow;
QT_END_NAMESPACE

class ListingDocument;
class Modem;

// The one main window. It owns everything of a run: the form, the serial
// channel, the two timers, the search for the meter, the meter's stream and
// the store of downloaded data sets.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // How often the meter's stream is taken in, from the meter's reply on.
    static constexpr int PollMs = 100;

signals:
    // A poll has put new readings into the history.
    void readingsTaken();
    // The meter has gone from its port; the history has a gap from here.
    void connectionLost();
    // The downloaded data sets have been listed, timed from `start`.
    void recordingListed(const QTime &start, const DownloadSession &download);

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

    // Port scan (src/serial/discovery.cpp).
    void meterFound();
    void meterLost();

    // The live display (src/stream/decoder.cpp).
    struct DisplayUpdate;
    void clearLiveValues();

    // Record store steps (src/records/recordstore.cpp).
    void setUpDownloadStatus();
    void storeDownloadHeader(const QString &text);
    void storeDataSet(const QString &text);
    void showDownloadResult();
    void downloadLost();
    void showDownloadProgress();
    // The listing (src/records/listing.cpp).
    void setUpListing();
    void prepareListing();

    // Form and serial link.
    Ui_MainWindow *ui;
    Modem *modem;
    QString versionText;

    // The search for the meter, and the port it was found on.
    MeterSearch search;
    QTimer *scanTimer;
    // When and where the meter was lost, shown until a meter answers again.
    QLabel *lossLabel;
    // Why the last port that exists would not open ("Kein Zugriff auf ...").
    QLabel *accessLabel;

    // The meter's stream: the receive ring, the message state and the
    // meter's status.
    QTimer *pollTimer;
    MeterStream stream;

    // Record store: the last download, its last index, interval, values and
    // count (download.lastRecordIndex ...).
    DownloadSession download;
    QElapsedTimer downloadClock;
    QLabel *downloadStatus = nullptr;
    QProgressBar *downloadProgress = nullptr;
    ListingDocument *listingDocument = nullptr;

    // Every RMS and PEP reading of the run, and the window "Verlauf" that
    // shows it and the downloaded recording (none where the program is built
    // without it); the window goes before the history it reads.
    ReadingHistory history;
    std::unique_ptr<QWidget> trendWindow;
};

#endif // MAINWINDOW_H
