#include "rowbyrowlisting.h"

#include "recordformat.h"

#include <QTextBrowser>

void appendListingRowByRow(QTextBrowser *view, const QTime &start, int interval, const int *rms,
                           const int *pep, int count)
{
    view->clear();
    view->append(Records::listingHeader());
    view->append(Records::listingRule());
    QTime t = start;
    for (int i = 0; i < count; ++i) {
        t = t.addSecs(interval);
        view->append(Records::listingRow(i + 1, t, rms[i], pep[i]));
    }
}
