#include "recordformat.h"
#include "identity.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>

namespace Records {

qint64 recordTime(const QTime &start, int intervalSec, int n, TimeRun run)
{
    if (!start.isValid())
        return -1;
    constexpr qint64 DayMs = 24 * 3600 * 1000;
    const qint64 ms = start.msecsSinceStartOfDay() + qint64(n) * intervalSec * 1000;
    return run == TimeRun::Continue ? ms : (ms % DayMs + DayMs) % DayMs;
}

namespace {

// The rows are made with a few small writers into a character buffer instead
// of printf-style formatting: a full store of 16000 rows then takes a few
// milliseconds instead of some 50. They give exactly what "%05i", "%5i",
// "%04.2f" (of hundredths / 100.0) and "HH:mm:ss" give, with '.' as decimal
// point whatever the locale.

// A whole number right-aligned in `width` characters, padded with '0' after
// the sign ("%05i") or with ' ' before it ("%5i").
char *putInteger(char *p, int value, int width, char pad)
{
    unsigned long long magnitude =
        value < 0 ? 0ULL - static_cast<unsigned long long>(static_cast<long long>(value))
                  : static_cast<unsigned long long>(value);
    char digits[24];
    int count = 0;
    do {
        digits[count++] = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    const int length = count + (value < 0 ? 1 : 0);
    if (pad == ' ')
        for (int i = length; i < width; ++i)
            *p++ = ' ';
    if (value < 0)
        *p++ = '-';
    if (pad == '0')
        for (int i = length; i < width; ++i)
            *p++ = '0';
    while (count > 0)
        *p++ = digits[--count];
    return p;
}

// A level in hundredths of a dBm as dBm with two decimals, as "%4.2f" (or
// "%04.2f") prints hundredths / 100.0. Such a text is never shorter than four
// characters ("0.00"), so neither format ever pads it.
char *putLevel(char *p, int hundredths)
{
    const long long value = hundredths;
    const long long magnitude = value < 0 ? -value : value;
    if (value < 0)
        *p++ = '-';
    p = putInteger(p, int(magnitude / 100), 0, ' ');
    *p++ = '.';
    *p++ = char('0' + magnitude % 100 / 10);
    *p++ = char('0' + magnitude % 10);
    return p;
}

char *putTwoDigits(char *p, int value)
{
    *p++ = char('0' + value / 10);
    *p++ = char('0' + value % 10);
    return p;
}

// Seconds since midnight as "HH:mm:ss"; nothing for an invalid time (< 0).
char *putTime(char *p, int secsOfDay)
{
    if (secsOfDay < 0)
        return p;
    p = putTwoDigits(p, secsOfDay / 3600);
    *p++ = ':';
    p = putTwoDigits(p, secsOfDay / 60 % 60);
    *p++ = ':';
    return putTwoDigits(p, secsOfDay % 60);
}

// "%05i \t" HH:mm:ss "\t" "%04.2f\t%04.2f\t dBm "
char *putListingRow(char *p, int number, int secsOfDay, int rms, int pep)
{
    p = putInteger(p, number, 5, '0');
    *p++ = ' ';
    *p++ = '\t';
    p = putTime(p, secsOfDay);
    *p++ = '\t';
    p = putLevel(p, rms);
    *p++ = '\t';
    p = putLevel(p, pep);
    for (const char c : {'\t', ' ', 'd', 'B', 'm', ' '})
        *p++ = c;
    return p;
}

// "%5i;%s;%4.2f;%4.2f" and CR LF
char *putCsvLine(char *p, int number, int secsOfDay, int rms, int pep)
{
    p = putInteger(p, number, 5, ' ');
    *p++ = ';';
    p = putTime(p, secsOfDay);
    *p++ = ';';
    p = putLevel(p, rms);
    *p++ = ';';
    p = putLevel(p, pep);
    *p++ = '\r';
    *p++ = '\n';
    return p;
}

// Longest row: 11 characters for a number, 8 for the time, 13 for each level
// and the separators and unit.
constexpr int RowBufferSize = 80;

// The listed time of data set n, in whole seconds of the day (-1: none).
int listedSecs(const QTime &start, int intervalSec, int n)
{
    const qint64 ms = recordTime(start, intervalSec, n, TimeRun::Wrap);
    return ms < 0 ? -1 : int(ms / 1000);
}

// Where the decimal point of a number field stands, -1 when the field is not
// a number with one: blanks before it (a padded "%4.2f"), a sign, digits,
// '.', digits, and an exponent perhaps ("1.5e-05").
qsizetype decimalPoint(const char *field, qsizetype size)
{
    qsizetype i = 0;
    const auto skipSign = [&] {
        if (i < size && (field[i] == '-' || field[i] == '+'))
            ++i;
    };
    // Skips a run of digits; false when there was none.
    const auto skipDigits = [&] {
        const qsizetype from = i;
        while (i < size && field[i] >= '0' && field[i] <= '9')
            ++i;
        return i > from;
    };
    while (i < size && field[i] == ' ')
        ++i;
    skipSign();
    if (!skipDigits() || i == size || field[i] != '.')
        return -1;
    const qsizetype point = i++;
    if (!skipDigits())
        return -1;
    if (i < size && (field[i] == 'e' || field[i] == 'E')) {
        ++i;
        skipSign();
        if (!skipDigits())
            return -1;
    }
    return i == size ? point : -1;
}

} // namespace

int shownCount(int lastIndex, int capacity)
{
    if (lastIndex < 0)
        return 0;
    // lastIndex + 1 without overflowing at INT_MAX.
    return lastIndex >= capacity ? capacity : lastIndex + 1;
}

QString listingText(const QTime &start, int intervalSec, const int *rms, const int *pep, int count)
{
    QString text = QStringLiteral("Datensatz \tZeitpunkt \tRMS \tPEP\n");
    text += QString(44, QLatin1Char('='));
    text.reserve(text.size() + qsizetype(count) * 48);
    char buffer[RowBufferSize];
    buffer[0] = '\n';
    for (int i = 0; i < count; ++i) {
        const char *end =
            putListingRow(buffer + 1, i + 1, listedSecs(start, intervalSec, i + 1), rms[i], pep[i]);
        text += QLatin1String(buffer, end - buffer);
    }
    return text;
}

QByteArray csvFile(const QTime &start, int intervalSec, const int *rms, const int *pep, int count)
{
    QByteArray bytes = QByteArrayLiteral("Datensatz;Zeit;RMS;PEP\r\n");
    bytes.reserve(bytes.size() + qsizetype(count) * 40);
    char buffer[RowBufferSize];
    for (int i = 0; i < count; ++i) {
        const char *end =
            putCsvLine(buffer, i + 1, listedSecs(start, intervalSec, i + 1), rms[i], pep[i]);
        bytes.append(buffer, end - buffer);
    }
    return bytes;
}

QByteArray withDecimalComma(const QByteArray &csv)
{
    QByteArray bytes = csv;
    char *data = bytes.data();
    qsizetype start = 0;
    for (qsizetype i = 0; i <= bytes.size(); ++i) {
        if (i < bytes.size() && data[i] != ';' && data[i] != '\r' && data[i] != '\n')
            continue;
        const qsizetype point = decimalPoint(data + start, i - start);
        if (point >= 0)
            data[start + point] = ',';
        start = i + 1;
    }
    return bytes;
}

QString csvFileType(bool decimalComma)
{
    return decimalComma ? QCoreApplication::translate("Records", "CSV mit Dezimalkomma (*.csv)")
                        : QCoreApplication::translate("Records", "CSV (*.csv)");
}

QString csvFileTypes()
{
    return csvFileType(false) + QStringLiteral(";;") + csvFileType(true);
}

bool decimalCommaChosen()
{
    return QSettings(Identity::Organisation, Identity::Application)
        .value(QStringLiteral("dezimalkomma"), false)
        .toBool();
}

void setDecimalCommaChosen(bool decimalComma)
{
    QSettings(Identity::Organisation, Identity::Application)
        .setValue(QStringLiteral("dezimalkomma"), decimalComma);
}

bool writeFile(const QString &fileName, const QByteArray &bytes, QString *error)
{
    const auto fail = [error](const QFileDevice &file) {
        if (error)
            *error = file.errorString();
        return false;
    };
    const QFileInfo target(fileName);
    if (target.exists() && !target.isFile()) {
        // A device or a pipe is written to, never replaced by a plain file.
        QFile file(fileName);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return fail(file);
        if (file.write(bytes) != bytes.size())
            return fail(file);
        return true;
    }
    QSaveFile file(fileName);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file);
    // The bytes must have reached the file before commit(): commit() takes
    // a flush that fails on closing (a full disk, a size limit) for success
    // and would put a cut-off file in place of the old one.
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        fail(file);
        file.cancelWriting();
        return false;
    }
    return file.commit() || fail(file);
}

} // namespace Records
