#ifndef METERSETTINGS_H
#define METERSETTINGS_H

#include <QString>

// What the simulated meter is and how it behaves, as chosen on the command line.
struct MeterSettings
{
    QString portName = QStringLiteral("COM1");
    int firmware = 21; // the byte after "M" in the identification reply

    // Status message fields.
    int head = 0; // detector-head code 0..5; 1 and 3 are audio heads
    int number = 1;
    double maxLevel = 20.0;  // dBm
    double attenuator = 0.0; // dB
    bool recording = false;

    double level = -20.0; // the RMS level the live readings drift around

    // The recording in the meter's memory.
    int records = 120; // data sets, 0..DownloadSession::Capacity
    int interval = 60; // seconds between two data sets

    bool fullSpeed = false; // no 9600-baud pacing

    // Faults of a bad meter or a bad line.
    bool lateReply = false;  // identification reply after 1500 ms
    bool wrongReply = false; // "X" instead of "M"
    bool noise = false;      // random bytes between messages
    bool split = false;      // messages cut into pieces, written with pauses
    int stallAfter = -1;     // a download stops after this many data sets (-1: never)

    // Unplugging: the line closes this long after streaming began, and the
    // meter comes back on the same COM name after a pause (-1: never).
    double unplugAfter = -1.0; // seconds
    double replugAfter = -1.0; // seconds

    bool hasSeed = false;
    quint32 seed = 0;
};

#endif // METERSETTINGS_H
