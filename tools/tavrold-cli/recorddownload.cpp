#include "recorddownload.h"

#include "download.h"
#include "recordformat.h"

#include <algorithm>

RecordDownload::RecordDownload()
    : rmsValues(Records::StoreCapacity, 0), pepValues(Records::StoreCapacity, 0)
{
}

void RecordDownload::takeHeader(const QString &text)
{
    if (complete)
        return;
    Records::readDownloadHeader(text, &lastRecordIndex, &recordIntervalSec);
    header = true;
    // A meter with nothing recorded announces no data set at all (last index
    // -1): the download is complete with the header, an empty recording.
    if (lastRecordIndex < 0)
        complete = true;
}

void RecordDownload::takeDataSet(const QString &text)
{
    if (complete)
        return;
    complete = Records::storeDataSet(text, rmsValues.data(), pepValues.data(),
                                     Records::StoreCapacity, lastRecordIndex, &recordCount);
}

qint64 RecordDownload::announced() const
{
    return header ? qMax<qint64>(0, qint64(lastRecordIndex) + 1) : 0;
}

QByteArray RecordDownload::csvFile(const QTime &start) const
{
    return csvRows(start, Records::shownCount(lastRecordIndex, Records::StoreCapacity));
}

QByteArray RecordDownload::partialCsvFile(const QTime &start) const
{
    return csvRows(
        start, std::min(recordCount, Records::shownCount(lastRecordIndex, Records::StoreCapacity)));
}

QByteArray RecordDownload::csvRows(const QTime &start, int count) const
{
    return Records::csvFile(start, recordIntervalSec, rmsValues.data(), pepValues.data(), count);
}
