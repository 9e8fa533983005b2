#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "downloadsession.h"
#include "metersearch.h"
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

class Modem;
struct DisplayUpdate;

// The one main window. It owns everything of a run: the form, the serial
// channel, the two timers, the port scan, the stream decoder and the store of
// downloaded data sets.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Capacity of the record store and of the receive ring.
    static constexpr int RecordCapacity = DownloadSession::Capacity;
    static constexpr int RxRingSize = 1000;

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

    // Stream decoder (src/stream/decoder.cpp).
    void decodeByte(char c);
    void runMessageHandler();
    void takeLevel(int type);
    void takeStatus();
    void clearLiveValues();
    void resetMessageState();

    // Record store steps (src/records/recordstore.cpp).
    void setUpDownloadStatus();
    qint64 downloadTime() const { return downloadClock.elapsed(); }
    void storeDownloadHeader(const QString &text);
    void storeDataSet(const QString &text);
    void showDownloadResult();
    void downloadLost();
    void showDownloadProgress();

    // Form and serial link.
    Ui_MainWindow *ui;
    Modem *modem;
    QString versionText;

    // Port scan: the ports, the position in them, the port taken last and
    // whether it is open, the wait for the reply and the meter's firmware.
    MeterSearch search;
    QTimer *scanTimer;
    // When and where the meter was lost, shown until a meter answers again.
    QLabel *lossLabel;
    // Why the last port that exists would not open ("Kein Zugriff auf ...").
    QLabel *accessLabel;

    // Stream decoder.
    QTimer *pollTimer;
    char rxRing[RxRingSize] = {};
    int rxHead = 0;
    int rxTail = 0;
    // What the run of getrs232() in progress will show when it ends.
    DisplayUpdate *runUpdate = nullptr;

    // Record store: the last download, its last index, interval, values and
    // count (download.lastRecordIndex ...).
    DownloadSession download;
    QElapsedTimer downloadClock;
    QLabel *downloadStatus = nullptr;
    QProgressBar *downloadProgress = nullptr;

    // Decoder state and meter status.
    int messageType = -1; // no type letter seen yet: no handler runs
    int recordingActive = 0;
    QString messageText;
    bool inMessage;
    int serialNumber;
    int headType;
    double maxLevelDbm;
    double attenuatorDb;

    // Every RMS and PEP reading of the run, and the window "Verlauf" that
    // shows it and the downloaded recording (none where the program is built
    // without it); the window goes before the history it reads.
    ReadingHistory history;
    std::unique_ptr<QWidget> trendWindow;
};

#endif // MAINWINDOW_H
