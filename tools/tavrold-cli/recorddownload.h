#ifndef RECORDDOWNLOAD_H
#define RECORDDOWNLOAD_H

#include <QByteArray>
#include <QString>
#include <QTime>

#include <vector>

// One download from the meter into a record store of the window's size,
// by the window's rules: the header announces the last index and the
// interval; data sets fill the store in order, and the one at the announced
// last index completes the download (also one that comes before any header,
// with the last index still 0). Data sets beyond the store's 16000 places are
// counted but not kept. The file is made by the same function as the
// window's export.
class RecordDownload
{
public:
    RecordDownload();

    void takeHeader(const QString &text);
    void takeDataSet(const QString &text);

    bool isComplete() const { return complete; }
    bool headerSeen() const { return header; }
    // Data sets taken in so far.
    int received() const { return recordCount; }
    // The data sets the header announced; 0 before the header.
    qint64 announced() const;
    int lastIndex() const { return lastRecordIndex; }
    int intervalSec() const { return recordIntervalSec; }

    // The CSV file of the complete download, byte for byte what the
    // window's "Speichern" writes for the same store and start time.
    QByteArray csvFile(const QTime &start) const;
    // The CSV file of an incomplete one: only the data sets that came, with
    // no rows of zeros for those that did not.
    QByteArray partialCsvFile(const QTime &start) const;

private:
    QByteArray csvRows(const QTime &start, int count) const;

    // As the window's download request leaves its store.
    int lastRecordIndex = 0;
    int recordIntervalSec = 1;
    int recordCount = 0;
    std::vector<int> rmsValues;
    std::vector<int> pepValues;
    bool header = false;
    bool complete = false;
};

#endif // RECORDDOWNLOAD_H
