#ifndef HISTORYCSV_H
#define HISTORYCSV_H

#include <QByteArray>

class ReadingHistory;

// Every reading of the history as CSV, the lines of the command-line tool's
// live log ("Verlauf speichern"). When a reading kept was taken with a
// correction on, every line ends in one more column, "raw_level": the level
// as the meter sent it.
QByteArray historyCsv(const ReadingHistory &history);

#endif // HISTORYCSV_H
