#ifndef PROGRESSREPORT_H
#define PROGRESSREPORT_H

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>

// How far a download has come, on standard error: on a terminal a bar that
// redraws its line (count, percentage, the time left at the line's rate), in
// a log one plain line at every further tenth.
class ProgressReport
{
    Q_DECLARE_TR_FUNCTIONS(ProgressReport)

public:
    enum class Style { Bar, Lines, Silent };

    explicit ProgressReport(Style style) : style(style) {}

    // `received` of `announced` data sets (announced 0: not yet known), and
    // the bytes the data sets took on the line so far.
    void update(qint64 received, qint64 announced, qint64 dataSetBytes);
    // Ends the bar's line.
    void finish();

    // The bar's text alone, for a given state (also for the tests).
    static QString barText(qint64 received, qint64 announced, qint64 dataSetBytes);
    // The time the rest takes at 9600 baud, 8N2 (11 bits a byte), from the
    // bytes a data set has taken so far.
    static qint64 secondsLeft(qint64 received, qint64 announced, qint64 dataSetBytes);

private:
    Style style;
    int tenthsShown = 0;
    bool barShown = false;
    QElapsedTimer sinceDrawn;
};

#endif // PROGRESSREPORT_H
