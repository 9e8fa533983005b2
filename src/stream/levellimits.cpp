#include "levellimits.h"

#include "storednumber.h"

#include <QDateTime>
#include <QSettings>

#include <cmath>

namespace {

bool inRange(const std::optional<double> &limit)
{
    return !limit || std::fabs(*limit) <= LimitSettings::LevelLimitDb;
}

const char *kindText(Protocol::LevelKind kind)
{
    return kind == Protocol::Pep ? "PEP" : "RMS";
}

} // namespace

QString LimitSettings::error() const
{
    if (!inRange(low) || !inRange(high))
        return tr("Ein Grenzwert liegt ausserhalb von -%1 bis %1 dB.").arg(LevelLimitDb);
    if (low && high && *low > *high)
        return tr("Der untere Grenzwert liegt ueber dem oberen.");
    if (!(hysteresisDb >= 0.0 && hysteresisDb <= HysteresisLimitDb))
        return tr("Die Hysterese liegt ausserhalb von 0 bis %1 dB.").arg(HysteresisLimitDb);
    return QString();
}

bool LimitSettings::operator==(const LimitSettings &other) const
{
    return low == other.low && high == other.high && kind == other.kind &&
           hysteresisDb == other.hysteresisDb && tone == other.tone;
}

void LimitSettings::save(QSettings &settings) const
{
    settings.beginGroup(QStringLiteral("grenzwert"));
    settings.remove(QString()); // no limit taken away stays
    if (low)
        settings.setValue(QStringLiteral("unten"), *low);
    if (high)
        settings.setValue(QStringLiteral("oben"), *high);
    settings.setValue(QStringLiteral("art"),
                      kind == Protocol::Pep ? QStringLiteral("pep") : QStringLiteral("rms"));
    settings.setValue(QStringLiteral("hysterese"), hysteresisDb);
    settings.setValue(QStringLiteral("ton"), tone);
    settings.endGroup();
}

LimitSettings LimitSettings::load(QSettings &settings)
{
    LimitSettings loaded;
    settings.beginGroup(QStringLiteral("grenzwert"));
    loaded.low = storedNumber(settings, QStringLiteral("unten"), -LevelLimitDb, LevelLimitDb);
    loaded.high = storedNumber(settings, QStringLiteral("oben"), -LevelLimitDb, LevelLimitDb);
    if (loaded.low && loaded.high && *loaded.low > *loaded.high)
        loaded.low = loaded.high = std::nullopt;
    loaded.kind =
        kindFromName(settings.value(QStringLiteral("art")).toString()).value_or(Protocol::Rms);
    loaded.hysteresisDb =
        storedNumber(settings, QStringLiteral("hysterese"), 0.0, HysteresisLimitDb)
            .value_or(DefaultHysteresisDb);
    loaded.tone = settings.value(QStringLiteral("ton"), false).toBool();
    settings.endGroup();
    return loaded;
}

std::optional<Protocol::LevelKind> LimitSettings::kindFromName(const QString &name)
{
    if (name.compare(QLatin1String("rms"), Qt::CaseInsensitive) == 0)
        return Protocol::Rms;
    if (name.compare(QLatin1String("pep"), Qt::CaseInsensitive) == 0)
        return Protocol::Pep;
    return std::nullopt;
}

void Limits::setSettings(const LimitSettings &settings)
{
    current = settings;
    now = LimitState::Unchecked;
    last.reset();
}

LimitState Limits::next(double level) const
{
    const bool belowLow = current.low && level < *current.low;
    const bool aboveHigh = current.high && level > *current.high;
    switch (now) {
    case LimitState::Low:
        if (aboveHigh)
            return LimitState::High;
        return level >= *current.low + current.hysteresisDb ? LimitState::Ok : LimitState::Low;
    case LimitState::High:
        if (belowLow)
            return LimitState::Low;
        return level <= *current.high - current.hysteresisDb ? LimitState::Ok : LimitState::High;
    default:
        return belowLow ? LimitState::Low : aboveHigh ? LimitState::High : LimitState::Ok;
    }
}

LimitState Limits::take(Protocol::LevelKind kind, double level, qint64 timeMs)
{
    if (kind != current.kind || !current.isSet())
        return LimitState::Unchecked;
    // A NaN is no result: the state stays as it was.
    if (std::isnan(level))
        return now;
    const LimitState was = now;
    now = next(level);
    last = level;
    if (now != was && (now == LimitState::Low || now == LimitState::High)) {
        ++count;
        sinceMs = timeMs;
    }
    return now;
}

void Limits::restart()
{
    now = LimitState::Unchecked;
    last.reset();
}

void Limits::clearCount()
{
    count = 0;
    sinceMs = 0;
}

QString Limits::violationText(const QString &unit) const
{
    if (!isViolated() || !last)
        return QString();
    const bool low = now == LimitState::Low;
    const double limit = low ? *current.low : *current.high;
    const QString since =
        QDateTime::fromMSecsSinceEpoch(sinceMs).toString(QStringLiteral("HH:mm:ss"));
    const QString where = low ? tr("unter") : tr("ueber");
    return tr("Grenzwert: %1 %2 %3 %4 %5 %3 seit %6 (%7x)")
        .arg(QLatin1String(kindText(current.kind)), QString::number(*last, 'f', 1), unit, where,
             QString::number(limit, 'f', 1), since, QString::number(count));
}

const char *Limits::stateName(LimitState state)
{
    switch (state) {
    case LimitState::Ok:
        return "ok";
    case LimitState::Low:
        return "low";
    case LimitState::High:
        return "high";
    default:
        return "";
    }
}
