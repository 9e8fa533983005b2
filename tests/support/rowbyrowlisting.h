#ifndef ROWBYROWLISTING_H
#define ROWBYROWLISTING_H

#include <QTime>

QT_BEGIN_NAMESPACE
class QTextBrowser;
QT_END_NAMESPACE

// The listing as the obvious way builds it, to compare the program's one-go
// build with: clear the view, then one append per line.
void appendListingRowByRow(QTextBrowser *view, const QTime &start, int interval, const int *rms,
                           const int *pep, int count);

#endif // ROWBYROWLISTING_H
