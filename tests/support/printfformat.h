#ifndef PRINTFFORMAT_H
#define PRINTFFORMAT_H

#include <QByteArray>
#include <QString>
#include <QTime>

// A data set as the printf formats of the listing and of the CSV file make
// it: what the program's own formatting must give, to the byte.
namespace PrintfFormat {

// "00001 \t12:00:10\t-12.34\t-10.00\t dBm "
QString listingRow(int number, const QTime &time, int rms, int pep);
// "    1;12:00:10;-12.34;-10.00\r\n"
QByteArray csvLine(int number, const QTime &time, int rms, int pep);

} // namespace PrintfFormat

#endif // PRINTFFORMAT_H
