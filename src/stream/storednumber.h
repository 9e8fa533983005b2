#ifndef STOREDNUMBER_H
#define STOREDNUMBER_H

#include <QSettings>
#include <QString>

#include <optional>

// A number from the settings file, when it is one and lies in the range: a
// value that is missing, damaged or out of range gives none.
inline std::optional<double> storedNumber(const QSettings &settings, const QString &key,
                                          double least, double most)
{
    bool ok = false;
    const double value = settings.value(key).toDouble(&ok);
    if (!ok || !(value >= least && value <= most))
        return std::nullopt;
    return value;
}

#endif // STOREDNUMBER_H
