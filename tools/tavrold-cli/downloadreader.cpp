#include "downloadreader.h"

#include "cliarguments.h"
#include "console.h"
#include "downloadsession.h"
#include "protocol.h"

DownloadReader::DownloadReader(const CliArguments &arguments, const DownloadSession &download)
    : download(download), shown(!arguments.quiet), redraw(Console::isTerminal(stderr))
{
}

void DownloadReader::dataSetTaken(const QString &text)
{
    dataSetBytes += text.size() + 3; // on the line: '@', type letter, text, ';'
    update();
}

void DownloadReader::finish()
{
    if (redraw && sinceDrawn.isValid())
        Console::progress(QStringLiteral("\n"));
}

void DownloadReader::update()
{
    if (!shown || !download.headerSeen())
        return;
    const qint64 all = download.announced();
    const qint64 got = download.received();
    if (redraw) {
        if (sinceDrawn.isValid() && sinceDrawn.elapsed() < 100 && download.isRunning())
            return;
        sinceDrawn.start();
        const int filled = all > 0 ? int(qMin<qint64>(30, got * 30 / all)) : 30;
        const qint64 secondsLeft =
            got > 0
                ? (all - got) * dataSetBytes * Protocol::LineBitsPerByte / got / Protocol::LineBaud
                : 0;
        Console::progress(QStringLiteral("\r[") + QString(filled, QLatin1Char('#')) +
                          QString(30 - filled, QLatin1Char('-')) + QStringLiteral("] ") +
                          download.progressText() +
                          tr(", noch %1:%2")
                              .arg(secondsLeft / 60)
                              .arg(secondsLeft % 60, 2, 10, QLatin1Char('0')) +
                          QStringLiteral("\033[K"));
        return;
    }
    const int tenths = all > 0 ? int(qMin<qint64>(10, got * 10 / all)) : 10;
    if (tenths > tenthsShown && download.isRunning())
        Console::message(download.progressText());
    tenthsShown = qMax(tenths, tenthsShown);
}
