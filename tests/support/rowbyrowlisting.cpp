#include "rowbyrowlisting.h"

#include "printfformat.h"

#include <QTextBrowser>

void appendListingRowByRow(QTextBrowser *view, const QTime &start, int interval, const int *rms,
                           const int *pep, int count)
{
    view->clear();
    view->append(QStringLiteral("Datensatz \tZeitpunkt \tRMS \tPEP"));
    view->append(QString(44, QLatin1Char('=')));
    QTime t = start;
    for (int i = 0; i < count; ++i) {
        t = t.addSecs(interval);
        view->append(PrintfFormat::listingRow(i + 1, t, rms[i], pep[i]));
    }
}
