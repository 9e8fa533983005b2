#include "console.h"

#include <cerrno>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace Console {

void message(const QString &text)
{
    std::fputs(("tavrold-cli: " + text + QLatin1Char('\n')).toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

void progress(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

bool dataLine(const QByteArray &line, bool *brokenPipe)
{
    *brokenPipe = false;
    errno = 0;
    const bool written =
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout) == size_t(line.size()) &&
        std::fputc('\n', stdout) != EOF && std::fflush(stdout) == 0;
    if (!written) {
#ifdef EPIPE
        *brokenPipe = errno == EPIPE;
#endif
        std::clearerr(stdout);
    }
    return written;
}

bool rawData(const QByteArray &bytes)
{
#ifdef Q_OS_WIN
    ::_setmode(::_fileno(stdout), _O_BINARY);
#endif
    return std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) ==
               size_t(bytes.size()) &&
           std::fflush(stdout) == 0;
}

bool isTerminal(std::FILE *stream)
{
#ifdef Q_OS_WIN
    return ::_isatty(::_fileno(stream)) != 0;
#else
    return ::isatty(::fileno(stream)) != 0;
#endif
}

} // namespace Console
