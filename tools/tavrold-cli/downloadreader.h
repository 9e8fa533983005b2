#ifndef DOWNLOADREADER_H
#define DOWNLOADREADER_H

#include <QCoreApplication>
#include <QElapsedTimer>

class CliArguments;
class DownloadSession;

// How far the download has come, on standard error: on a terminal a bar
// that redraws its line, with the time the rest takes on the line at the
// bytes a data set has taken so far; in a log a line at every further tenth.
class DownloadReader
{
    Q_DECLARE_TR_FUNCTIONS(DownloadReader)

public:
    DownloadReader(const CliArguments &arguments, const DownloadSession &download);

    // After every download message the store has taken.
    void update();
    void dataSetTaken(const QString &text);
    // Ends the redrawn line.
    void finish();

private:
    const DownloadSession &download;
    qint64 dataSetBytes = 0;
    bool shown;
    bool redraw;
    int tenthsShown = 0;
    QElapsedTimer sinceDrawn;
};

#endif // DOWNLOADREADER_H
