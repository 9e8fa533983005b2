#include "livedisplay.h"

#include "unitformat.h"

#include <QCoreApplication>

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

LevelTexts levelTexts(double level, bool audioHead)
{
    LevelTexts texts;
    if (audioHead) {
        texts.level = QString::asprintf("%3.1f dBV", level);
        texts.voltage = UnitFormat::voltage(std::pow(10.0, level / 20.0));
        return texts;
    }
    // The level is a power of 10^(level/10) mW across 50 ohms.
    const double volts = std::sqrt(std::pow(10.0, level / 10.0) * 0.001 * 50.0);
    texts.level = QString::asprintf("%3.1f dBm", level);
    texts.voltage = UnitFormat::voltage(volts);
    texts.power = UnitFormat::power(volts * volts / 50.0);
    return texts;
}

std::optional<QString> recordingText(int recordingState)
{
    switch (recordingState) {
    case 0:
        return QString();
    case 1:
        return QCoreApplication::translate("MainWindow", "Funktion \"Aufzeichnung\" laeuft");
    default:
        return std::nullopt;
    }
}

QString rmsTitle(bool audioHead)
{
    return audioHead ? QCoreApplication::translate("MainWindow", "Audio")
                     : QCoreApplication::translate("MainWindow", "AVG/RMS");
}

QString pepTitle(bool audioHead)
{
    return audioHead ? QCoreApplication::translate("MainWindow", "Audio/Peak")
                     : QCoreApplication::translate("MainWindow", "PEP");
}

} // namespace LiveDisplay
