#ifndef LIVEDISPLAY_H
#define LIVEDISPLAY_H

#include "meterstream.h"
#include "protocol.h"

#include <QString>

// What the live display shows for the meter's readings and status: pure
// functions from values to texts.
namespace LiveDisplay {

// Head codes 1 and 3 are the audio heads: levels in dBV and no power shown.
// Every other code, known or not, is an RF head (dBm, power shown).
bool isAudioHead(int headType);
// The name of the detector head, "Unbekannt" for codes the meter may add.
QString headName(int headType);

// The voltage of a level: for an RF head the RMS voltage across 50 ohms of
// 10^(level/10) mW, for an audio head 10^(level/20) V (the level in dBV).
double levelVolts(double level, bool audioHead);
// The power of an RF head's level in watts, as it develops across 50 ohms.
double levelWatts(double level);

// The range of levels the display shows, in dB (dBm or dBV). No head comes
// near it: the thermal noise of one hertz of bandwidth is already -174 dBm,
// and +200 dBm would be 10^17 W. A number beyond it is a damaged message
// that happened to read as a number (the meter may send "1e300"): it is
// shown as the nearest end of the range, so that no label grows to hundreds
// of digits and no voltage or power overflows to "inf". Levels inside the
// range, the ends included, are shown as they are.
inline constexpr double LevelLimitDb = 200.0;
// The level the display shows for a level: clamped to +-LevelLimitDb; a NaN,
// which no number reading gives, counts as 0 as an unreadable number does.
double shownLevel(double level);

// The three texts of one RMS or PEP reading. For an RF head the level is in
// dBm and the voltage is the one across 50 ohms; for an audio head the level
// is in dBV and the power text stays empty. The texts are those of
// shownLevel(level): "200.0 dBm", "2236067977.5 V" and
// "100000000000000.000 kW" for anything above the range.
struct LevelTexts
{
    QString level;
    QString voltage;
    QString power;
};
LevelTexts levelTexts(double level, bool audioHead);
// The texts of a reading as the connection hands it on: a level relative to a
// reference reads in dB to it with two decimals ("+0.00 dBr"); the voltage
// and the power are always those of the corrected absolute level.
LevelTexts readingTexts(const MeterStream::Reading &reading);
// The unit its level text is in: "dBr" relative to a reference, else "dBV"
// for an audio head and "dBm" for an RF head.
QString levelUnit(const MeterStream::Reading &reading);

// The status message's maximum level ("%2.1f dBm") and attenuator setting
// ("%2.1f dB"), both bounded to the same range as the levels.
QString maxLevelText(double dbm);
QString attenuatorText(double db);

// The recording indication: the running text while the meter records, else
// empty.
QString recordingText(bool recording);

// Title of the RMS or the PEP group box.
QString levelTitle(Protocol::LevelKind kind, bool audioHead);

} // namespace LiveDisplay

#endif // LIVEDISPLAY_H
