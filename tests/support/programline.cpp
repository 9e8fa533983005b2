#include "programline.h"

#include <QElapsedTimer>
#include <QFile>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

ProgramLine::~ProgramLine()
{
    close();
}

bool ProgramLine::open(const QString &path)
{
    close();
    fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    termios tio{};
    if (::tcgetattr(fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    return true;
}

void ProgramLine::close()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool ProgramLine::write(const QByteArray &bytes)
{
    return ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
}

void ProgramLine::poll()
{
    char buffer[4096];
    ssize_t count;
    while ((count = ::read(fd, buffer, sizeof buffer)) > 0) {
        received.append(buffer, int(count));
        reads.append(QByteArray(buffer, int(count)));
    }
}

void ProgramLine::pump(int ms)
{
    QElapsedTimer clock;
    clock.start();
    do {
        poll();
        QTest::qWait(2);
    } while (clock.elapsed() < ms);
    poll();
}

void ProgramLine::clear()
{
    received.clear();
    reads.clear();
}
