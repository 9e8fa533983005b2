#ifndef SIMULATEDMETER_H
#define SIMULATEDMETER_H

#include "downloadsession.h"
#include "linewriter.h"
#include "metersettings.h"

#include <QList>
#include <QObject>
#include <QRandomGenerator>
#include <QTimer>

#include <utility>

class QSocketNotifier;

// The meter's side of the conversation. Reads the program's commands from
// the line as a byte stream and answers them:
//   "#v;"  the identification reply, "M" and the firmware number;
//   "#o;"  live RMS ("a") and PEP ("b") levels five times a second and a
//          status message ("s") once a second, until "#c;";
//   "#d;"  a download header ("k") and the recorded data sets ("d") in
//          recording order, live messages mixed in while streaming;
//   "#c;"  silence.
// A "#v;" while it streams or downloads is answered between two messages;
// the stream goes on.
class SimulatedMeter : public QObject
{
    Q_OBJECT

public:
    static constexpr int StreamTickMs = 200;
    static constexpr int StatusEveryTicks = 5;
    static constexpr int LateReplyMs = 1500;

    SimulatedMeter(int masterFd, const MeterSettings &settings, QObject *parent = nullptr);

signals:
    // One line for the user about what arrived and what the meter does.
    void report(const QString &line);
    // The program has switched the meter to streaming ("#o;").
    void streamingStarted();

private:
    void readLine();
    void take(char c);
    void runCommand(char letter);

    void identify();
    void sendReply();
    char replyMark() const;
    void startStreaming();
    void startDownload();
    void stop();

    void streamTick();
    void topUpDownload();
    bool liveRoom() const;

    void sendMessage(Protocol::MessageType type, const QByteArray &value);
    void sendInPieces(const QByteArray &bytes);
    QByteArray noise();
    QByteArray statusText() const;
    void makeRecording();

    int masterFd;
    MeterSettings settings;
    QRandomGenerator random;
    LineWriter writer;
    QSocketNotifier *readable;
    QTimer readRetry;
    QTimer streamTimer;
    QTimer replyTimer;

    enum class Parse { Idle, Letter, End };
    Parse parse = Parse::Idle;
    char letter = 0;

    bool streaming = false;
    int tick = 0;
    double rms;         // dBm, drifting around settings.level
    double crest = 4.5; // dB, PEP above RMS

    bool downloading = false;
    int nextRecord = 0;
    QList<std::pair<int, int>> recorded;
};

#endif // SIMULATEDMETER_H
