#include "correctiontable.h"

#include "recordformat.h"

#include <QFile>
#include <QFileInfo>
#include <QList>

#include <algorithm>
#include <cmath>

namespace {

// No calibration sheet comes near this; a larger file is not a table, and
// reading it whole would only cost memory.
constexpr qint64 MaxFileBytes = 1024 * 1024;

// A correction beyond this is no detector's and would only overflow later.
constexpr double CorrectionLimitDb = 100.0;

// A number of a table line: '.' as decimal point, or ',' where the fields
// are separated by ';'. Blanks around it are allowed.
std::optional<double> readField(QByteArray field, bool decimalComma)
{
    field = field.trimmed();
    if (decimalComma)
        field.replace(',', '.');
    bool ok = false;
    const double value = field.toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return value;
}

// The two numbers of a line "f;c" or "f,c"; nullopt for anything else.
std::optional<CorrectionTable::Point> readPoint(const QByteArray &line)
{
    const bool semicolon = line.contains(';');
    const QList<QByteArray> fields = line.split(semicolon ? ';' : ',');
    if (fields.size() != 2)
        return std::nullopt;
    const std::optional<double> frequency = readField(fields.at(0), semicolon);
    const std::optional<double> correction = readField(fields.at(1), semicolon);
    if (!frequency || !correction)
        return std::nullopt;
    return CorrectionTable::Point{*frequency, *correction};
}

// A number as the file keeps it: the shortest text that reads back the same.
QByteArray numberText(double value)
{
    return QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
}

} // namespace

double CorrectionTable::correctionAt(double frequencyMhz) const
{
    if (table.empty())
        return 0.0;
    // Below the first point (and for a NaN) the first value holds, above the
    // last one the last value.
    if (!(frequencyMhz > table.front().frequencyMhz))
        return table.front().correctionDb;
    if (frequencyMhz >= table.back().frequencyMhz)
        return table.back().correctionDb;
    const auto above =
        std::upper_bound(table.begin(), table.end(), frequencyMhz,
                         [](double f, const Point &point) { return f < point.frequencyMhz; });
    const Point &high = *above;
    const Point &low = *(above - 1);
    const double share = (frequencyMhz - low.frequencyMhz) / (high.frequencyMhz - low.frequencyMhz);
    return low.correctionDb + share * (high.correctionDb - low.correctionDb);
}

std::optional<CorrectionTable> CorrectionTable::parse(const QByteArray &text, QString *error)
{
    const auto refuse = [error](const QString &why) {
        if (error)
            *error = why;
        return std::nullopt;
    };
    const auto refuseLine = [&refuse](int number, const QString &why) {
        return refuse(tr("Zeile %1: %2").arg(number).arg(why));
    };

    CorrectionTable result;
    bool firstLine = true; // the first line that is neither blank nor a comment
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype index = 0; index < lines.size(); ++index) {
        const int number = int(index + 1);
        QByteArray line = lines.at(index).trimmed();
        if (index == 0 && line.startsWith("\xEF\xBB\xBF")) // a spreadsheet's UTF-8 mark
            line = line.mid(3).trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const std::optional<Point> point = readPoint(line);
        const bool header = firstLine && !point;
        firstLine = false;
        if (header)
            continue;
        if (!point)
            return refuseLine(number, tr("keine zwei Zahlen"));
        if (!std::isfinite(point->frequencyMhz) || !std::isfinite(point->correctionDb))
            return refuseLine(number, tr("Zahl nicht endlich"));
        if (std::abs(point->correctionDb) > CorrectionLimitDb)
            return refuseLine(number, tr("Korrektur ausserhalb -100 bis +100 dB"));
        if (!result.table.empty() && !(point->frequencyMhz > result.table.back().frequencyMhz))
            return refuseLine(number, tr("Frequenz nicht aufsteigend"));
        if (int(result.table.size()) == MaxPoints)
            return refuseLine(number, tr("mehr als %1 Punkte").arg(MaxPoints));
        result.table.push_back(*point);
    }
    if (int(result.table.size()) < MinPoints)
        return refuse(tr("zu wenige Punkte (mindestens %1)").arg(MinPoints));
    return result;
}

QByteArray CorrectionTable::toText() const
{
    QByteArray text =
        "# Tavrolinde: Korrekturtabelle eines Messkopfs\nfrequency_MHz;correction_dB\n";
    for (const Point &point : table)
        text += numberText(point.frequencyMhz) + ';' + numberText(point.correctionDb) + '\n';
    return text;
}

std::optional<CorrectionTable> CorrectionTable::load(const QString &path, QString *error)
{
    const auto refuse = [error](const QString &why) {
        if (error)
            *error = why;
        return std::nullopt;
    };
    const QFileInfo info(path);
    if (!info.exists())
        return refuse(tr("Datei nicht gefunden"));
    if (info.isDir())
        return refuse(tr("ein Ordner, keine Datei"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(tr("Datei nicht lesbar"));
    // Read one byte past the bound: a pipe or a device tells no size.
    const QByteArray text = file.read(MaxFileBytes + 1);
    if (text.size() > MaxFileBytes)
        return refuse(tr("Datei groesser als 1 MB"));
    return parse(text, error);
}

bool CorrectionTable::save(const QString &path, QString *error) const
{
    return Records::writeFile(path, toText(), error);
}

bool CorrectionTable::operator==(const CorrectionTable &other) const
{
    return std::equal(table.begin(), table.end(), other.table.begin(), other.table.end(),
                      [](const Point &a, const Point &b) {
                          return a.frequencyMhz == b.frequencyMhz &&
                                 a.correctionDb == b.correctionDb;
                      });
}
