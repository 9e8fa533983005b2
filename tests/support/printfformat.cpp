#include "printfformat.h"

namespace PrintfFormat {

QString listingRow(int number, const QTime &time, int rms, int pep)
{
    return QString::asprintf("%05i \t", number) + time.toString(QStringLiteral("HH:mm:ss")) +
           QLatin1Char('\t') + QString::asprintf("%04.2f\t%04.2f\t dBm ", rms / 100.0, pep / 100.0);
}

QByteArray csvLine(int number, const QTime &time, int rms, int pep)
{
    return QString::asprintf("%5i;%s;%4.2f;%4.2f", number,
                             qPrintable(time.toString(QStringLiteral("HH:mm:ss"))), rms / 100.0,
                             pep / 100.0)
               .toLatin1() +
           "\r\n";
}

} // namespace PrintfFormat
