#ifndef LIVEDISPLAY_H
#define LIVEDISPLAY_H

#include <QString>

#include <optional>

// What the live display shows for the meter's readings and status: pure
// functions from values to texts, used by the stream decoder's handlers.
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

// The three texts of one RMS or PEP reading. For an RF head the level is in
// dBm and the voltage is the one across 50 ohms; for an audio head the level
// is in dBV and the power text stays empty.
struct LevelTexts
{
    QString level;
    QString voltage;
    QString power;
};
LevelTexts levelTexts(double level, bool audioHead);

// The recording indication for the recording state of a status message:
// empty for 0, the running text for 1, and no change for anything else.
std::optional<QString> recordingText(int recordingState);

// Titles of the RMS and the PEP group box.
QString rmsTitle(bool audioHead);
QString pepTitle(bool audioHead);

} // namespace LiveDisplay

#endif // LIVEDISPLAY_H
