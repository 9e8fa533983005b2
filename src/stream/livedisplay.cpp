#include "livedisplay.h"

#include "unitformat.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace LiveDisplay {

// User texts are translated in the main window's context, as the form's are.

bool isAudioHead(int headType)
{
    return headType == 1 || headType == 3;
}

QString headName(int headType)
{
    switch (headType) {
    case 0:
        return QStringLiteral("AD8362");
    case 1:
        return QStringLiteral("AD8362 NF");
    case 2:
        return QStringLiteral("AD8307");
    case 3:
        return QStringLiteral("AD8307 NF");
    case 5:
        return QStringLiteral("AD8361 linear");
    default:
        return QCoreApplication::translate("MainWindow", "Unbekannt");
    }
}

double levelVolts(double level, bool audioHead)
{
    if (audioHead)
        return std::pow(10.0, level / 20.0);
    return std::sqrt(std::pow(10.0, level / 10.0) * 0.001 * 50.0);
}

namespace {

// The power a voltage develops across 50 ohms.
double wattsAcross50Ohms(double volts)
{
    return volts * volts / 50.0;
}

} // namespace

double levelWatts(double level)
{
    return wattsAcross50Ohms(levelVolts(level, false));
}

double shownLevel(double level)
{
    if (std::isnan(level))
        return 0.0;
    return std::clamp(level, -LevelLimitDb, LevelLimitDb);
}

LevelTexts levelTexts(double level, bool audioHead)
{
    level = shownLevel(level);
    LevelTexts texts;
    texts.level = QString::asprintf(audioHead ? "%3.1f dBV" : "%3.1f dBm", level);
    const double volts = levelVolts(level, audioHead);
    texts.voltage = UnitFormat::voltage(volts);
    if (!audioHead)
        texts.power = UnitFormat::power(wattsAcross50Ohms(volts));
    return texts;
}

LevelTexts readingTexts(const MeterStream::Reading &reading)
{
    LevelTexts texts = levelTexts(reading.absoluteLevel, reading.audioHead);
    if (reading.relative)
        texts.level = QString::asprintf("%+.2f dBr", reading.level);
    return texts;
}

QString levelUnit(const MeterStream::Reading &reading)
{
    if (reading.relative)
        return QStringLiteral("dBr");
    return reading.audioHead ? QStringLiteral("dBV") : QStringLiteral("dBm");
}

QString maxLevelText(double dbm)
{
    return QString::asprintf("%2.1f dBm", shownLevel(dbm));
}

QString attenuatorText(double db)
{
    return QString::asprintf("%2.1f dB", shownLevel(db));
}

QString recordingText(bool recording)
{
    return recording ? QCoreApplication::translate("MainWindow", "Funktion \"Aufzeichnung\" laeuft")
                     : QString();
}

QString levelTitle(Protocol::LevelKind kind, bool audioHead)
{
    static const char *const titles[Protocol::LevelKindCount][2] = {
        {QT_TRANSLATE_NOOP("MainWindow", "AVG/RMS"), QT_TRANSLATE_NOOP("MainWindow", "Audio")},
        {QT_TRANSLATE_NOOP("MainWindow", "PEP"), QT_TRANSLATE_NOOP("MainWindow", "Audio/Peak")}};
    return QCoreApplication::translate("MainWindow", titles[kind][audioHead ? 1 : 0]);
}

} // namespace LiveDisplay
