#ifndef RECORDFORMAT_H
#define RECORDFORMAT_H

#include <QByteArray>
#include <QString>
#include <QTime>

// How the downloaded data sets are shown and saved: the rows of the listing,
// the lines of the CSV file and the times of day they carry. Levels are whole
// hundredths of a dBm; numbers always use '.' as the decimal point, whatever
// the user's locale.
namespace Records {

// How many data sets the listing and the export show for a last index:
// lastIndex + 1, none for a negative index, and never more than the store
// holds (`capacity`).
int shownCount(int lastIndex, int capacity);

// How the times of a recording run past midnight: as a time of day that
// wraps round (the listing and the file), or on into the next day (a chart).
enum class TimeRun { Wrap, Continue };

// The time of data set n (counting from 1; 0 is the start itself): start plus
// n intervals, in milliseconds since the start of the start's day. With Wrap
// it stays a time of day, as QTime::addSecs counts (a negative interval goes
// backwards round the clock); with Continue it runs on past midnight, or
// before it for a negative interval. -1 for an invalid start.
qint64 recordTime(const QTime &start, int intervalSec, int n, TimeRun run);

// The listing of the first `count` data sets: header line, rule line, one
// row per data set, lines joined with '\n'. Each row carries its data set's
// recordTime() as a time of day that wraps round midnight.
QString listingText(const QTime &start, int intervalSec, const int *rms, const int *pep, int count);

// The CSV file of the first `count` data sets: header line, one line per
// data set, each ended by CR LF.
QByteArray csvFile(const QTime &start, int intervalSec, const int *rms, const int *pep, int count);

// The same CSV with ',' as the decimal point of every number, for German
// spreadsheets, which read "-23.45" as text or a date. Fields stay separated
// by ';' and lines end as they did; what is not a plain number (the header,
// times of day, time stamps, names) stays as it is.
QByteArray withDecimalComma(const QByteArray &csv);

// The file types the save dialogs offer for CSV, the one as always first:
// "CSV (*.csv)" and "CSV mit Dezimalkomma (*.csv)"; both for a dialog's
// filter. Which one was chosen last is a setting, shared by every dialog.
QString csvFileType(bool decimalComma);
QString csvFileTypes();
bool decimalCommaChosen();
void setDecimalCommaChosen(bool decimalComma);

// Writes `bytes` as the whole new content of `fileName`. A regular file is
// written to a temporary file beside it and put in place only when every
// byte has been written, so that on failure the old one stays as it was;
// where the folder takes no temporary file, the file is written in place.
// Anything else that exists under that name (a device, a FIFO, a socket) is
// written in place and never replaced. False with the reason in *error
// when the bytes could not be written.
bool writeFile(const QString &fileName, const QByteArray &bytes, QString *error = nullptr);

} // namespace Records

#endif // RECORDFORMAT_H
