#ifndef DOWNLOADSESSION_H
#define DOWNLOADSESSION_H

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QTime>

// One download of the meter's recording, for the window and the
// command-line tool alike. The header "last index*interval" announces the
// data sets; they follow in recording order, each "RMS*PEP" in hundredths of
// a dBm, and fill a fixed store of 16000 places. The data set at the
// announced last index completes the download (also one that comes before
// any header, the last index still 0); a header announcing a negative last
// index is an empty memory. No data set for 5 s stalls the download, the
// meter going away breaks it off; either way what arrived is its result.
// Times are milliseconds of a steady clock the caller keeps.
class DownloadSession
{
    Q_DECLARE_TR_FUNCTIONS(DownloadSession)

public:
    static constexpr int Capacity = 16000;
    static constexpr int StallMs = 5000;

    enum class State {
        Idle,      // nothing asked for (or asked while no meter is connected)
        Waiting,   // "#d;" sent, no header yet
        Receiving, // header seen, data sets coming
        Stalled,   // no data set for StallMs; it goes on if they come again
        Lost,      // the meter went away during the download
        Complete,  // the data set at the announced last index arrived
        Empty      // the meter announced no data sets at all
    };

    // Clears the store as a download request does; `sent`: the request went
    // out to a connected meter, so the download is waited for from `nowMs`.
    void start(bool sent, qint64 nowMs);

    // Step "header": the last index and the interval, each read as an
    // integer (0 when it is not one); further fields are ignored.
    void takeHeader(const QString &text, qint64 nowMs);

    // Step "data set": stores it at index recordCount (blanks removed, read
    // as decimals and cut toward zero; beyond the store's places it is only
    // counted), runs onComplete() when it is the one at the announced last
    // index, then counts it.
    template <typename OnComplete>
    void takeDataSet(const QString &text, qint64 nowMs, OnComplete &&onComplete)
    {
        if (storeDataSet(text, nowMs))
            onComplete();
        countDataSet();
    }

    // Step "stalled": true when the download has just stalled at `nowMs`.
    bool checkStall(qint64 nowMs);
    // Step "lost": true when a running download has just been broken off.
    bool lose();

    State state() const { return phase; }
    // Waiting, receiving or stalled: more may come.
    bool isRunning() const;
    bool isComplete() const { return phase == State::Complete || phase == State::Empty; }
    bool headerSeen() const { return header; }
    // Data sets in the store, and those the header announced (0 before it).
    int received() const;
    qint64 announced() const;

    // The data sets the result holds: all up to the last index once the
    // download is complete, otherwise those that arrived (never more than
    // announced, never past the store).
    int resultCount() const;
    // "120 Datensaetze" once complete, "37 von 120 Datensaetzen" before.
    QString countText() const;
    // The progress as the window's status bar and the tool show it.
    QString progressText() const;

    // The result as a listing and as the CSV file, times counted from start.
    QString listingText(const QTime &start) const;
    QByteArray csvFile(const QTime &start) const;

    // The store. A request sets it to last index 0, interval 1, all values
    // 0, count 0.
    int lastRecordIndex = 0;
    int recordIntervalSec = 1;
    int rmsValues[Capacity] = {};
    int pepValues[Capacity] = {};
    int recordCount = 0;

private:
    bool storeDataSet(const QString &text, qint64 nowMs);
    qint64 shownReceived() const;
    void countDataSet();

    State phase = State::Idle;
    bool header = false;
    qint64 lastActivityMs = 0;
};

#endif // DOWNLOADSESSION_H
