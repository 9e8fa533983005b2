#ifndef DOWNLOADREADER_H
#define DOWNLOADREADER_H

#include "meterstream.h"

#include <QCoreApplication>
#include <QElapsedTimer>

class CliArguments;
class DownloadSession;

// The download's messages, taken by the window's rules (live readings of a
// meter that still streams are passed over), and how far it has come, on
// standard error: on a terminal a bar that redraws its line, with the time
// the rest takes on the line at the bytes a data set has taken so far; in a
// log a line at every further tenth.
class DownloadReader : public MeterStream::Receiver
{
    Q_DECLARE_TR_FUNCTIONS(DownloadReader)

public:
    DownloadReader(const CliArguments &arguments, DownloadSession &download);

    void downloadHeader(const QString &text) override;
    void dataSet(const QString &text) override;
    // Ends the redrawn line.
    void finish();

    // Started with the reader: the download's steady clock.
    QElapsedTimer clock;

private:
    void update();

    DownloadSession &download;
    qint64 dataSetBytes = 0;
    bool shown;
    bool redraw;
    int tenthsShown = 0;
    QElapsedTimer sinceDrawn;
};

#endif // DOWNLOADREADER_H
