#include "measurement.h"

#include "livedisplay.h"
#include "storednumber.h"

#include <QSettings>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {

// A level in dB with its sign and two decimals: "+40.00", "-0.30"; never
// "-0.00".
QString signedDb(double db)
{
    QString text = QString::number(db, 'f', 2);
    if (text == QLatin1String("-0.00"))
        text = QStringLiteral("0.00");
    return text.startsWith(QLatin1Char('-')) ? text : QLatin1Char('+') + text;
}

// The power ratio of a step: a reading this many times above or below the
// running average is further from it than StepDb.
const double StepRatio = std::pow(10.0, MeasurementSettings::StepDb / 10.0);

// References are levels the display can show.
constexpr double ReferenceLimitDb = LiveDisplay::LevelLimitDb;

const QString ReferenceKeys[Protocol::LevelKindCount] = {QStringLiteral("referenz_rms"),
                                                         QStringLiteral("referenz_pep")};

QString tableKey(int headType)
{
    return QStringLiteral("tabelle%1").arg(headType);
}

} // namespace

const CorrectionTable *MeasurementSettings::table(int headType) const
{
    if (headType < 0 || headType >= HeadCount)
        return nullptr;
    return &tables[std::size_t(headType)];
}

bool MeasurementSettings::isActive(int headType) const
{
    const CorrectionTable *headTable = table(headType);
    return offsetDb != 0.0 || (headTable && !headTable->isEmpty()) || average > 1 || relative;
}

QString MeasurementSettings::summary(int headType) const
{
    QStringList parts;
    if (offsetDb != 0.0)
        parts << tr("Offset %1 dB").arg(signedDb(offsetDb));
    const CorrectionTable *headTable = table(headType);
    if (headTable && !headTable->isEmpty())
        parts << tr("%1 bei %2 MHz %3 dB")
                     .arg(LiveDisplay::headName(headType), QString::number(frequencyMhz, 'f', 3),
                          signedDb(headTable->correctionAt(frequencyMhz)));
    if (average > 1)
        parts << tr("Mittel %1").arg(average);
    if (relative)
        parts << tr("relativ");
    if (parts.isEmpty())
        return QString();
    return tr("Korrektur: %1").arg(parts.join(QLatin1String(", ")));
}

bool MeasurementSettings::operator==(const MeasurementSettings &other) const
{
    return offsetDb == other.offsetDb && frequencyMhz == other.frequencyMhz &&
           tables == other.tables && average == other.average &&
           stepDetection == other.stepDetection && relative == other.relative &&
           reference == other.reference;
}

void MeasurementSettings::save(QSettings &settings) const
{
    settings.beginGroup(QStringLiteral("messung"));
    settings.remove(QString()); // no key of an earlier table or reference stays
    settings.setValue(QStringLiteral("offset"), offsetDb);
    settings.setValue(QStringLiteral("frequenz"), frequencyMhz);
    for (int head = 0; head < HeadCount; ++head)
        if (!tables[std::size_t(head)].isEmpty())
            settings.setValue(tableKey(head),
                              QString::fromUtf8(tables[std::size_t(head)].toText()));
    settings.setValue(QStringLiteral("mittel"), average);
    settings.setValue(QStringLiteral("sprung"), stepDetection);
    settings.setValue(QStringLiteral("relativ"), relative);
    for (int kind = 0; kind < Protocol::LevelKindCount; ++kind)
        if (reference[std::size_t(kind)])
            settings.setValue(ReferenceKeys[kind], *reference[std::size_t(kind)]);
    settings.endGroup();
}

// Whatever the file holds: a value that is missing, damaged or out of range
// leaves the default, a table that does not read leaves none.
MeasurementSettings MeasurementSettings::load(QSettings &settings)
{
    MeasurementSettings loaded;
    settings.beginGroup(QStringLiteral("messung"));
    loaded.offsetDb =
        storedNumber(settings, QStringLiteral("offset"), -OffsetLimitDb, OffsetLimitDb)
            .value_or(0.0);
    loaded.frequencyMhz =
        storedNumber(settings, QStringLiteral("frequenz"), 0.0, FrequencyLimitMhz).value_or(0.0);
    for (int head = 0; head < HeadCount; ++head) {
        const QVariant text = settings.value(tableKey(head));
        if (text.canConvert<QString>())
            loaded.tables[std::size_t(head)] =
                CorrectionTable::parse(text.toString().toUtf8(), nullptr)
                    .value_or(CorrectionTable());
    }
    loaded.average =
        int(storedNumber(settings, QStringLiteral("mittel"), 1, AverageLimit).value_or(1.0));
    loaded.stepDetection = settings.value(QStringLiteral("sprung"), true).toBool();
    loaded.relative = settings.value(QStringLiteral("relativ"), false).toBool();
    for (int kind = 0; kind < Protocol::LevelKindCount; ++kind)
        loaded.reference[std::size_t(kind)] =
            storedNumber(settings, ReferenceKeys[kind], -ReferenceLimitDb, ReferenceLimitDb);
    settings.endGroup();
    return loaded;
}

Measurement::Measurement()
{
    startAfresh();
}

void Measurement::setSettings(const MeasurementSettings &settings)
{
    current = settings;
    // The ring holds AverageLimit powers: no length beyond it, whoever set it.
    current.average = std::clamp(current.average, 1, MeasurementSettings::AverageLimit);
    startAfresh();
}

Measurement::Result Measurement::take(Protocol::LevelKind kind, double rawLevel, int headType)
{
    if (headType != this->headType) {
        this->headType = headType;
        startAfresh();
    }
    Result result;
    result.raw = rawLevel;
    // Nothing is added where nothing is set, so that an unset correction
    // leaves the level bit for bit (-0 stays -0).
    double level = rawLevel;
    if (current.offsetDb != 0.0)
        level += current.offsetDb;
    const CorrectionTable *headTable = current.table(headType);
    if (headTable && !headTable->isEmpty())
        level += headTable->correctionAt(current.frequencyMhz);

    // The average is one of powers. A level whose power is not a number (a
    // damaged message far beyond any real level) passes alone and stays out
    // of it, so that it cannot spoil the readings after it.
    const std::size_t index = std::size_t(kind);
    if (current.average > 1) {
        const double power = std::pow(10.0, level / 10.0);
        if (std::isfinite(power))
            level = 10.0 *
                    std::log10(averages[index].add(power, current.average, current.stepDetection));
    }
    result.absolute = level;
    if (std::isfinite(level))
        last[index] = level;

    std::optional<double> &reference = current.reference[index];
    if (current.relative) {
        if (!reference && std::isfinite(level))
            reference = level; // the first result of the kind
        result.relative = true;
        result.level = reference ? level - *reference : level;
    } else {
        result.level = level;
    }
    return result;
}

void Measurement::restart()
{
    startAfresh();
}

bool Measurement::setReferenceFromLast()
{
    if (!last[Protocol::Rms] && !last[Protocol::Pep])
        return false;
    // A kind with no reading yet takes its first result.
    current.reference = last;
    current.relative = true;
    return true;
}

std::optional<double> Measurement::lastAbsolute(Protocol::LevelKind kind) const
{
    return last[std::size_t(kind)];
}

void Measurement::startAfresh()
{
    for (Average &average : averages)
        average.clear();
    last.fill(std::nullopt);
}

void Measurement::Average::clear()
{
    count = 0;
    next = 0;
    sum = 0.0;
    lost = 0.0;
}

// The running sum keeps what rounding takes from it (Neumaier's
// compensated sum): when a large power leaves, the small ones beside it
// are still there to the last bits, not buried in its rounding.
void Measurement::Average::accumulate(double power)
{
    const double total = sum + power;
    lost += std::abs(sum) >= std::abs(power) ? (sum - total) + power : (power - total) + sum;
    sum = total;
}

double Measurement::Average::add(double power, int length, bool stepDetection)
{
    if (stepDetection && count > 0) {
        const double mean = (sum + lost) / count;
        if (power > mean * StepRatio || power * StepRatio < mean)
            clear(); // a real step: shown at once, not smeared over the ring
    }
    if (count == length)
        accumulate(-powers[std::size_t(next)]); // the oldest leaves
    else
        ++count;
    powers[std::size_t(next)] = power;
    accumulate(power);
    // Once a round the sum is taken afresh from the ring, so that no error
    // grows over millions of readings.
    if (++next == length) {
        next = 0;
        sum = lost = 0.0;
        for (int i = 0; i < count; ++i)
            accumulate(powers[std::size_t(i)]);
    }
    return std::max(sum + lost, 0.0) / count;
}
