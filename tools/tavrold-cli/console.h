#ifndef CONSOLE_H
#define CONSOLE_H

#include <QByteArray>
#include <QString>

#include <cstdio>

// The tool's two streams: data on standard output, everything else -
// messages, the search, the progress - on standard error.
class Console
{
public:
    // A message line on standard error, "tavrold-cli: " before it.
    static void message(const QString &text);
    // Text on standard error as it stands (a progress bar redraws its line).
    static void progress(const QString &text);
    // One line of data on standard output, written out at once. False when
    // it could not be written; *brokenPipe tells a reader that has gone
    // (`| head`) from a real failure (a full disk).
    static bool dataLine(const QByteArray &line, bool *brokenPipe);

    static bool isTerminal(std::FILE *stream);
};

#endif // CONSOLE_H
