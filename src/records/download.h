#ifndef DOWNLOAD_H
#define DOWNLOAD_H

#include <QString>

// How a download from the meter fills a store of data sets: the header
// announces the last index and the interval, and the data sets follow in
// recording order, each a pair of levels in hundredths of a dBm.
namespace Records {

// Capacity of a store: the meter records at most this many data sets.
inline constexpr int StoreCapacity = 16000;

// The download header "last index*interval", both integers; a field that is
// not one reads as 0, further fields are ignored.
void readDownloadHeader(const QString &text, int *lastIndex, int *intervalSec);

// Stores the data set "RMS*PEP" at index *recordCount of `rms` and `pep`
// (blanks removed, read as decimals and cut toward zero) and counts it. Data
// sets beyond the capacity are counted but dropped, so nothing is written
// past the last slot; the count stops at INT_MAX. True when this data set
// completes the download: it is the one at the announced last index.
bool storeDataSet(const QString &text, int *rms, int *pep, int capacity, int lastIndex,
                  int *recordCount);

} // namespace Records

#endif // DOWNLOAD_H
