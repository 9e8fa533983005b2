#ifndef HISTORYCSV_H
#define HISTORYCSV_H

#include <QByteArray>

class ReadingHistory;

// Every reading of the history as CSV, the lines of the command-line tool's
// live log ("Verlauf speichern").
QByteArray historyCsv(const ReadingHistory &history);

#endif // HISTORYCSV_H
