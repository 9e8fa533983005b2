#ifndef METERSTREAM_H
#define METERSTREAM_H

#include "levellimits.h"
#include "protocol.h"

#include <QString>

#include <optional>

// The meter's message stream for every reader: the window's poll, the
// command-line tool and the fuzzers. Bytes go into a fixed receive ring, are
// walked through the message rules one by one, and every complete message
// comes out typed to a Receiver: a reading with the head in force when it
// ended, a status, or the value text of a download header or a data set for
// the record store. The message state carries over from one intake to the
// next, so a message may be split anywhere.
class MeterStream
{
public:
    static constexpr int RxRingSize = 1000;
    // The most bytes one intake takes: a full ring would bring the head round
    // onto the tail, which reads as empty, and the whole batch would be lost.
    static constexpr int IntakeLimit = RxRingSize - 1;

    // An RMS or PEP level, in dBm, or in dBV while an audio head is fitted
    // (the head of the last status message, an RF head before the first).
    struct Reading
    {
        Protocol::LevelKind kind = Protocol::Rms;
        double level = 0.0;
        bool audioHead = false;
        // With corrections on: the level as the meter sent it, the corrected
        // absolute level (voltage and power are always of it), and whether
        // `level` is in dB relative to a reference.
        double rawLevel = 0.0;
        double absoluteLevel = 0.0;
        bool relative = false;
        // When the program took it in (milliseconds since 1970; 0 from the
        // stream itself): the one time of a reading for every output.
        qint64 timeMs = 0;
        // Against the limits set for its kind (Unchecked: none, or the other
        // kind's).
        LimitState limit = LimitState::Unchecked;
    };

    // The meter's status as status messages set it (before the first: head
    // 0, maximum level 5 dBm), with the recording as it is shown: only the
    // states 0 and 1 change it, and it is unknown before the first of them.
    struct Status
    {
        int headType = 0;
        int serialNumber = 0;
        double maxLevelDbm = 5.0;
        double attenuatorDb = 0.0;
        int recordingActive = 0;
        std::optional<bool> recording;
    };

    // Told every complete message, in the order they ended.
    class Receiver
    {
    public:
        virtual ~Receiver() = default;
        virtual void reading(const Reading &) {}
        virtual void status(const Status &) {}
        // The value texts, handed on as they are to the record store's steps.
        virtual void downloadHeader(const QString &) {}
        virtual void dataSet(const QString &) {}
    };

    // Puts up to IntakeLimit of the bytes into the ring; the number taken.
    int take(const char *bytes, int count);
    // Walks every byte in the ring through the message rules.
    void decode(Receiver &receiver);
    // Any number of bytes, taken in and decoded a ringful at a time.
    void feed(const char *bytes, qint64 count, Receiver &receiver);
    // A new line: the ring is emptied, and no half message of an earlier
    // line is joined to the first of the new one. The status stays.
    void restart();

    bool isEmpty() const { return rxHead == rxTail; }
    // The meter's status as the last status message left it.
    const Status &status() const { return meterStatus; }

private:
    friend struct MainWindowTestAccess;

    void messageEnded(Receiver &receiver);
    void takeStatus();

    char rxRing[RxRingSize] = {};
    int rxHead = 0;
    int rxTail = 0;

    bool inMessage = false;
    int messageType = Protocol::NoMessageType; // no type letter seen yet: nothing is handed on
    QString messageText;

    Status meterStatus;
};

#endif // METERSTREAM_H
