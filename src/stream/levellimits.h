#ifndef LEVELLIMITS_H
#define LEVELLIMITS_H

#include "protocol.h"

#include <QCoreApplication>
#include <QString>

#include <optional>

class QSettings;

// Where the last result of the limited kind lies: no limit set (or no result
// of the kind yet), inside the limits, below the lower or above the upper.
enum class LimitState : quint8 { Unchecked, Ok, Low, High };

// A lower and an upper limit for the results of one kind, in the unit the
// level is shown in (dBm or dBV, dBr while relative). Neither set: nothing is
// checked.
struct LimitSettings
{
    Q_DECLARE_TR_FUNCTIONS(LimitSettings)

public:
    static constexpr double DefaultHysteresisDb = 0.5;
    static constexpr double HysteresisLimitDb = 20.0; // 0 to 20 dB
    // Limits are levels the display can show.
    static constexpr double LevelLimitDb = 200.0;

    std::optional<double> low;
    std::optional<double> high;
    Protocol::LevelKind kind = Protocol::Rms;
    double hysteresisDb = DefaultHysteresisDb;
    bool tone = false; // the window beeps while out of limits

    bool isSet() const { return low || high; }
    // Why the settings cannot be used (a limit out of range, the lower above
    // the upper, a hysteresis out of range), or an empty text.
    QString error() const;

    bool operator==(const LimitSettings &other) const;
    bool operator!=(const LimitSettings &other) const { return !(*this == other); }

    // Kept in the group "grenzwert" and read back at the next start; a value
    // missing, damaged or out of range leaves its default.
    void save(QSettings &settings) const;
    static LimitSettings load(QSettings &settings);

    // "rms"/"pep" as the tool's options name the kinds.
    static std::optional<Protocol::LevelKind> kindFromName(const QString &name);
};

// Checks every result of the limited kind against the limits. A result
// beyond a limit is a violation (one equal to the limit passes); the state
// goes back to "ok" only once a result lies inside by the hysteresis, and a
// result beyond the other limit is a new violation at once. Violations are
// counted until the counter is cleared, with the time the last one began.
// No allocation per result.
class Limits
{
    Q_DECLARE_TR_FUNCTIONS(Limits)

public:
    Limits() = default;
    explicit Limits(const LimitSettings &settings) : current(settings) {}

    // New settings check afresh from the next result; the counter stays.
    void setSettings(const LimitSettings &settings);
    const LimitSettings &settings() const { return current; }

    // One result; its state (Unchecked for the other kind or no limit).
    LimitState take(Protocol::LevelKind kind, double level, qint64 timeMs);
    // The meter was lost: nothing is known until its next result.
    void restart();
    // The counter starts again from 0.
    void clearCount();

    LimitState state() const { return now; }
    bool isViolated() const { return now == LimitState::Low || now == LimitState::High; }
    // The last result of the limited kind, while there is one.
    std::optional<double> lastLevel() const { return last; }
    int violationCount() const { return count; }
    // When the last violation began (ms since 1970); 0 before the first.
    qint64 lastViolationMs() const { return sinceMs; }

    // While out of limits, what and since when, the level in `unit`:
    // "Grenzwert: RMS -23.4 dBm unter -20.0 dBm seit 14:02:11 (3x)" (local
    // time); empty while inside or unchecked.
    QString violationText(const QString &unit) const;

    // "ok", "low", "high"; empty for Unchecked: the tool's and the broker's names.
    static const char *stateName(LimitState state);

private:
    LimitState next(double level) const;

    LimitSettings current;
    LimitState now = LimitState::Unchecked;
    std::optional<double> last;
    int count = 0;
    qint64 sinceMs = 0;
};

#endif // LEVELLIMITS_H
