#include "ptymeter.h"

#include "portssandbox.h"

#include <QSocketNotifier>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PtyMeter::PtyMeter(const PortsSandbox &sandbox, const QString &comName) : name(comName)
{
    int master = -1;
    int slave = -1;
    char path[256] = {};
    if (::openpty(&master, &slave, path, nullptr, nullptr) != 0)
        return;
    // A fresh pseudo-terminal echoes and edits lines like a console: make
    // both directions carry raw bytes, as a serial line does.
    termios tio{};
    if (::tcgetattr(slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(slave, TCSANOW, &tio);
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    masterFd = master;
    // The test keeps one handle on the program's end, so that the line stays
    // up between the program's opens and closes.
    slaveFd = slave;
    slavePath = QString::fromLocal8Bit(path);
    sandbox.link(comName, slavePath);

    notifier = new QSocketNotifier(masterFd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] { drain(); });
}

PtyMeter::~PtyMeter()
{
    vanish();
    if (slaveFd >= 0)
        ::close(slaveFd);
}

bool PtyMeter::send(const QByteArray &bytes)
{
    if (masterFd < 0)
        return false;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(masterFd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            QTest::qWait(1);
        } else {
            return false;
        }
    }
    return true;
}

void PtyMeter::drain()
{
    if (masterFd < 0)
        return;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(masterFd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        input.append(buffer, n);
    }
    // Look for complete three-byte commands "#x;" that arrived since last time.
    while (scanned + 3 <= input.size()) {
        if (input.at(scanned) == '#' && input.at(scanned + 2) == ';') {
            const QByteArray command = input.mid(scanned, 3);
            scanned += 3;
            emit commandSeen(command);
            const auto it = replies.constFind(command);
            if (it != replies.constEnd())
                send(it.value());
        } else {
            ++scanned;
        }
    }
}

QByteArray PtyMeter::received()
{
    drain();
    return input;
}

void PtyMeter::clearReceived()
{
    drain();
    input.clear();
    scanned = 0;
}

bool PtyMeter::waitForReceived(const QByteArray &bytes, int timeoutMs)
{
    return QTest::qWaitFor([&] { return received().contains(bytes); }, timeoutMs);
}

void PtyMeter::setReply(const QByteArray &command, const QByteArray &reply)
{
    replies.insert(command, reply);
}

void PtyMeter::vanish()
{
    delete notifier;
    notifier = nullptr;
    if (masterFd >= 0) {
        ::close(masterFd);
        masterFd = -1;
    }
}
