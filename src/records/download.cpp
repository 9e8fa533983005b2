#include "download.h"

#include "protocol.h"

#include <climits>

namespace Records {

void readDownloadHeader(const QString &text, int *lastIndex, int *intervalSec)
{
    *lastIndex = Protocol::readInteger(Protocol::section(text, 0));
    *intervalSec = Protocol::readInteger(Protocol::section(text, 1));
}

bool storeDataSet(const QString &text, int *rms, int *pep, int capacity, int lastIndex,
                  int *recordCount)
{
    const int index = *recordCount;
    if (index < 0 || index == INT_MAX)
        return false;
    if (index < capacity) {
        rms[index] = Protocol::readTruncated(Protocol::withoutBlanks(Protocol::section(text, 0)));
        pep[index] = Protocol::readTruncated(Protocol::withoutBlanks(Protocol::section(text, 1)));
    }
    *recordCount = index + 1;
    return index == lastIndex;
}

} // namespace Records
