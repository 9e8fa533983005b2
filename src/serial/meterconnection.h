#ifndef METERCONNECTION_H
#define METERCONNECTION_H

#include "downloadsession.h"
#include "levellimits.h"
#include "measurement.h"
#include "metersearch.h"
#include "meterstream.h"
#include "protocol.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

QT_BEGIN_NAMESPACE
class QTimer;
QT_END_NAMESPACE

class Modem;

// The one way to the meter, for the window and every command of the tool:
// searches the ports for it, switches it to streaming, takes in its stream,
// hands every reading, status and download message on once, and keeps the
// download's store. What happens is said by signals; the meter's commands go
// out through it.
//
// It runs on two timers: the search's, whose steps wait as long as each step
// says, and the poll's, every PollMs from the meter's reply on. The window
// hands in its own timers and runs their steps through its slots; without
// them the connection makes its own and runs itself.
class MeterConnection : public QObject
{
    Q_OBJECT

public:
    static constexpr int PollMs = 100;
    // The most one waking poll takes in at once: at full speed a line
    // delivers some kilobytes between two wake-ups.
    static constexpr int WakingReadLimit = 8192;

    // How the stream is taken in. Polled: one read of what has come, every
    // PollMs, as the window does. Waking: the poll waits up to PollMs for the
    // first byte without using the processor and takes in all that has come
    // at once, for a program that has nothing else to do between (the tool).
    enum class Intake { Polled, Waking };

    // What one poll leaves: the last reading of each kind and the last
    // status, for a display that shows only the latest.
    struct Poll
    {
        std::optional<MeterStream::Reading> levels[Protocol::LevelKindCount];
        std::optional<MeterStream::Status> status;
        bool newReadings = false;
    };

    MeterConnection(Modem &modem, const QStringList &ports, QTimer *scanTimer = nullptr,
                    QTimer *pollTimer = nullptr, QObject *parent = nullptr);
    // With a serial channel of its own, which lets the port go with it.
    explicit MeterConnection(const QStringList &ports, QObject *parent = nullptr);
    ~MeterConnection() override;

    // The first step of the search, FirstStepMs from now.
    void start();
    // One step of the search: open the next port and ask "#v;", or look at
    // the answer.
    void searchStep();
    // Takes in what the meter has sent, decodes it and hands it on; the
    // poll's result. Nothing without a meter.
    const Poll &poll();

    void setIntake(Intake intake) { intakeMode = intake; }
    // Whether the port a meter answers on is remembered for the next search
    // (not for a port the user named).
    void setRemembersPort(bool remember) { remembersPort = remember; }
    // Whether a meter found is switched to streaming ("#o;"); a program that
    // only asks for the firmware or the recording leaves it as it is.
    void setStartsStream(bool start) { startsStream = start; }

    // What every reading passes through: offset, head tables, average and
    // reference. Nothing set: every level as the meter sent it.
    void setMeasurement(const MeasurementSettings &settings);
    const MeasurementSettings &measurementSettings() const { return measurement.settings(); }
    // Whether a correction changes the levels of the head in force.
    bool isCorrecting() const { return measurement.settings().isActive(stream.status().headType); }
    // What is in force, in one line ("Korrektur: Offset +40.00 dB, ..."),
    // empty when nothing is.
    QString correctionText() const;
    // "Referenz setzen": the last result of each kind becomes its reference;
    // false when no reading has come yet.
    bool setReferenceFromLast();

    // The limits every result of their kind is checked against, after the
    // measurement. None set: nothing is checked.
    void setLimits(const LimitSettings &settings) { limitCheck.setSettings(settings); }
    const Limits &limits() const { return limitCheck; }
    void clearLimitCount() { limitCheck.clearCount(); }

    // "#d;" to the meter found: the store is cleared either way, and the
    // download is waited for only when the command went out.
    bool requestDownload();
    // "#c;": the program is done with the meter.
    void sendStop();

    bool isConnected() const { return search.deviceFound() && search.portOpen(); }
    const MeterSearch &meterSearch() const { return search; }
    QString portName() const { return search.portName(); }
    int firmwareNumber() const { return search.firmwareNumber(); }
    const MeterStream::Status &status() const { return stream.status(); }

    // The store of the last download, and the steady clock it is timed by.
    DownloadSession &download() { return *store; }
    const DownloadSession &download() const { return *store; }
    qint64 clockMs() const { return clock.elapsed(); }
    // The bytes taken in from the meter's port since the start.
    qint64 bytesRead() const { return bytesTaken; }

signals:
    // A port is about to be tried ("Suche HW :COM3").
    void searching(const QString &port);
    // A port that is there may not be opened, and why.
    void portRefused(const QString &why);
    // A port gave no meter: it would not open, or did not answer.
    void portFailed();
    void meterFound(const QString &port, int firmwareNumber);
    // The meter has gone from its port; the search starts again with it.
    void meterLost(const QString &port);

    // Every reading as it ends, the level kept to the range the display
    // shows, stamped with the time the poll took it in.
    void reading(const MeterStream::Reading &reading);
    void statusReceived(const MeterStream::Status &status);
    void downloadHeader(const QString &text);
    void dataSet(const QString &text);
    // The download has ended with a result: complete, stalled (no data set
    // for a while) or broken off (what arrived). Told at once, from inside
    // the message or the poll that ended it.
    void downloadEnded();
    // A poll has handed on everything it took in.
    void polled();

private:
    class Handover;
    friend struct MainWindowTestAccess;

    void found();
    void lost();
    // The record store's steps, for every download message.
    void takeDownloadHeader(const QString &text);
    void takeDataSet(const QString &text);

    std::unique_ptr<Modem> ownModem;
    Modem &modem;
    MeterSearch search;
    MeterStream stream;
    Measurement measurement;
    Limits limitCheck;
    QTimer *scanTimer;
    QTimer *pollTimer;
    Intake intakeMode = Intake::Polled;
    bool remembersPort = true;
    bool startsStream = true;
    qint64 bytesTaken = 0;
    Poll lastPoll;
    std::unique_ptr<DownloadSession> store;
    QElapsedTimer clock;
};

#endif // METERCONNECTION_H
