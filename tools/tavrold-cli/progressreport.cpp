#include "progressreport.h"

#include "console.h"

#include <cmath>

namespace {

constexpr int BarWidth = 30;
// A bar is redrawn at most this often; a full-speed download brings
// thousands of data sets a second.
constexpr int RedrawMs = 100;
constexpr double LineBytesPerSecond = 9600.0 / 11.0;

QString clockText(qint64 seconds)
{
    if (seconds >= 3600)
        return QString::asprintf("%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60,
                                 seconds % 60);
    return QString::asprintf("%lld:%02lld", seconds / 60, seconds % 60);
}

} // namespace

qint64 ProgressReport::secondsLeft(qint64 received, qint64 announced, qint64 dataSetBytes)
{
    if (received <= 0 || announced <= received)
        return 0;
    const double perDataSet = double(dataSetBytes) / double(received);
    return qint64(std::ceil(double(announced - received) * perDataSet / LineBytesPerSecond));
}

QString ProgressReport::barText(qint64 received, qint64 announced, qint64 dataSetBytes)
{
    if (announced <= 0)
        return tr("%1 Datensaetze").arg(received);
    const double share = qBound(0.0, double(received) / double(announced), 1.0);
    const int filled = int(share * BarWidth);
    return QStringLiteral("[") + QString(filled, QLatin1Char('#')) +
           QString(BarWidth - filled, QLatin1Char('-')) + QStringLiteral("] ") +
           tr("%1/%2 Datensaetze %3 %, noch %4")
               .arg(received)
               .arg(announced)
               .arg(int(share * 100.0), 3)
               .arg(clockText(secondsLeft(received, announced, dataSetBytes)));
}

void ProgressReport::update(qint64 received, qint64 announced, qint64 dataSetBytes)
{
    switch (style) {
    case Style::Silent:
        return;
    case Style::Bar:
        if (barShown && sinceDrawn.isValid() && sinceDrawn.elapsed() < RedrawMs &&
            received < announced)
            return;
        Console::progress(QStringLiteral("\r") + barText(received, announced, dataSetBytes) +
                          QStringLiteral("\033[K"));
        barShown = true;
        sinceDrawn.start();
        return;
    case Style::Lines:
        if (announced <= 0)
            return;
        const int tenths = int(qMin<qint64>(10, received * 10 / announced));
        if (tenths <= tenthsShown)
            return;
        tenthsShown = tenths;
        Console::message(
            tr("%1 von %2 Datensaetzen (%3 %)").arg(received).arg(announced).arg(tenths * 10));
        return;
    }
}

void ProgressReport::finish()
{
    if (barShown)
        Console::progress(QStringLiteral("\n"));
    barShown = false;
}
