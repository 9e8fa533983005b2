#ifndef MEASUREMENT_H
#define MEASUREMENT_H

#include "correctiontable.h"
#include "protocol.h"

#include <QCoreApplication>
#include <QString>

#include <array>
#include <optional>

class QSettings;

// What the user sets to measure rather than only read: a fixed offset, a
// correction table for each detector head at one frequency, an average over
// the last readings and a reference for relative levels. Nothing set: every
// level passes unchanged.
struct MeasurementSettings
{
    Q_DECLARE_TR_FUNCTIONS(MeasurementSettings)

public:
    // Head codes the meter reports, 0 to 5; each head has its own table.
    static constexpr int HeadCount = 6;
    static constexpr double OffsetLimitDb = 100.0;        // -100 to +100 dB
    static constexpr int AverageLimit = 1000;             // 1 (off) to 1000 readings
    static constexpr double FrequencyLimitMhz = 100000.0; // 0 to 100 GHz
    // A reading this far from the running average starts it afresh.
    static constexpr double StepDb = 3.0;

    double offsetDb = 0.0;
    double frequencyMhz = 0.0;
    std::array<CorrectionTable, HeadCount> tables;
    int average = 1;
    bool stepDetection = true;
    bool relative = false;
    // Per kind; with `relative` on and none set, the first result of the kind
    // becomes the reference.
    std::array<std::optional<double>, Protocol::LevelKindCount> reference;

    // The table in force for a head (none for a code outside 0 to 5).
    const CorrectionTable *table(int headType) const;
    // Whether any of the settings changes a level for this head.
    bool isActive(int headType) const;
    // What is in force for this head, in one line for the display, e.g.
    // "Korrektur: Offset +40.00 dB, AD8307 bei 145.000 MHz -0.30 dB, Mittel
    // 10, relativ"; empty when nothing is.
    QString summary(int headType) const;

    bool operator==(const MeasurementSettings &other) const;
    bool operator!=(const MeasurementSettings &other) const { return !(*this == other); }

    // Kept beside the last file saved ("pfad") and read back at the next start.
    void save(QSettings &settings) const;
    static MeasurementSettings load(QSettings &settings);
};

// Every live reading passes through here once, in this order: the head's
// correction at the set frequency plus the offset, then the average (on
// power, RMS and PEP apart), then the reference. The raw level stays beside
// the result. No allocation per reading.
class Measurement
{
public:
    struct Result
    {
        double raw = 0.0;      // as the meter sent it
        double absolute = 0.0; // corrected and averaged, in dBm or dBV
        double level = 0.0;    // what is shown: absolute, or dB to the reference
        bool relative = false; // `level` is in dBr
    };

    Measurement();

    // New settings start every average afresh.
    void setSettings(const MeasurementSettings &settings);
    const MeasurementSettings &settings() const { return current; }
    bool isActive() const { return current.isActive(headType); }

    // One reading of `kind` with the head of the last status message.
    Result take(Protocol::LevelKind kind, double rawLevel, int headType);
    // The meter was lost (or found again): every average starts afresh.
    void restart();
    // "Referenz setzen": the last absolute result of each kind becomes its
    // reference and relative levels are switched on; false when no reading
    // has come yet.
    bool setReferenceFromLast();
    std::optional<double> lastAbsolute(Protocol::LevelKind kind) const;

private:
    // Every average starts afresh and no last result is kept.
    void startAfresh();

    // The last `average` readings of one kind, as powers in a fixed ring.
    struct Average
    {
        std::array<double, MeasurementSettings::AverageLimit> powers{};
        int count = 0;
        int next = 0;
        double sum = 0.0;
        double lost = 0.0; // what rounding took from `sum`
        void clear();
        void accumulate(double power);
        // The average power with this one; `length` 2 to AverageLimit.
        double add(double power, int length, bool stepDetection);
    };

    MeasurementSettings current;
    int headType = 0;
    std::array<Average, Protocol::LevelKindCount> averages;
    std::array<std::optional<double>, Protocol::LevelKindCount> last;
};

#endif // MEASUREMENT_H
