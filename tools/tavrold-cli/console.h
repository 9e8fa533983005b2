#ifndef CONSOLE_H
#define CONSOLE_H

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

#include <cstdio>

// The tool's texts.
struct Cli
{
    Q_DECLARE_TR_FUNCTIONS(TavroldCli)
};

// The tool's two streams: data on standard output, everything else -
// messages, the search, the progress - on standard error.
namespace Console {

// A message line on standard error, "tavrold-cli: " before it.
void message(const QString &text);
// Text on standard error as it stands (a progress bar redraws its line).
void progress(const QString &text);
// One line of data on standard output, written out at once. False when it
// could not be written; *brokenPipe tells a reader that has gone (`| head`)
// from a real failure (a full disk).
bool dataLine(const QByteArray &line, bool *brokenPipe);
// Bytes on standard output exactly as they are (no CR added on Windows).
bool rawData(const QByteArray &bytes);

bool isTerminal(std::FILE *stream);

} // namespace Console

#endif // CONSOLE_H
