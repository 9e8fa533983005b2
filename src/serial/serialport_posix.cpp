// The serial layer on Linux and other Unix systems: termios on a device file.

#include "serialport.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace SerialPort {

namespace {

// A write that the driver does not take for this long is given up: no
// handshake is used, so a working line always drains, and a dead device must
// not freeze the window.
constexpr int WriteStallMs = 1000;

long long nowMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool isHungUp(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

} // namespace

Handle open(const char *devicePath, OpenFailure *failure)
{
    OpenFailure ignored;
    OpenFailure &why = failure ? *failure : ignored;
    why = OpenFailure::Missing;
    if (!devicePath || !*devicePath)
        return InvalidHandle;
    // O_NONBLOCK: neither the open (no carrier wait) nor any read ever waits.
    int fd;
    do {
        fd = ::open(devicePath, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM)
            why = OpenFailure::NoAccess;
        else if (errno == EBUSY) // made exclusive by another program
            why = OpenFailure::InUse;
        else if (errno != ENOENT && errno != ENODEV && errno != ENXIO && errno != ENOTDIR)
            why = OpenFailure::Other;
        return InvalidHandle;
    }
    // Exclusive use. The advisory lock holds for root as well and for other
    // programs that lock their ports the same way.
    why = OpenFailure::InUse;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return InvalidHandle;
    }
#ifdef TIOCGEXCL
    // Root opens a terminal that another program has made exclusive all the
    // same; respect it.
    int exclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
        ::close(fd);
        return InvalidHandle;
    }
#endif
    // Other openers (without root) are kept out by the terminal itself. A
    // device that is no terminal refuses this; configure() fails on it then.
    ::ioctl(fd, TIOCEXCL);
    why = OpenFailure::None;
    return fd;
}

bool configure(Handle handle)
{
    if (handle < 0)
        return false;
    const int fd = static_cast<int>(handle);
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return false;
    ::cfmakeraw(&tio);
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | ISTRIP);
    tio.c_iflag |= IGNBRK;
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CRTSCTS);
    tio.c_cflag |= CS8 | CSTOPB | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, B9600) != 0 || ::cfsetospeed(&tio, B9600) != 0)
        return false;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0)
        return false;

    // DTR and RTS inactive. Done after the line settings, since changing the
    // speed may raise them. A device without modem-control lines (a
    // pseudo-terminal) refuses this, which does not matter.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd, TIOCMBIC, &lines);
    return true;
}

void close(Handle handle)
{
    if (handle < 0)
        return;
    const int fd = static_cast<int>(handle);
    // The exclusive flag belongs to the terminal, not to this handle: clear it
    // so that the next opener is not turned away by a port nobody holds.
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
}

int read(Handle handle, char *buffer, int maxCount, bool *deviceGone)
{
    if (deviceGone)
        *deviceGone = false;
    if (handle < 0 || !buffer || maxCount <= 0)
        return 0;
    const int fd = static_cast<int>(handle);
    ssize_t n;
    do {
        n = ::read(fd, buffer, static_cast<size_t>(maxCount));
    } while (n < 0 && errno == EINTR);
    if (n > 0)
        return static_cast<int>(n);
    // Nothing received: a silent line, or a device that has gone. A terminal
    // that lost its other end fails with EIO, one whose device left (a USB
    // adapter pulled out) with ENXIO or ENODEV, or it has been hung up and
    // reads as its end - which, with reads that never wait, looks like a
    // silent line: the terminal is asked whether it was hung up.
    if (deviceGone) {
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            *deviceGone = errno == EIO || errno == ENXIO || errno == ENODEV;
        else
            *deviceGone = isHungUp(fd);
    }
    return 0;
}

bool waitReadable(Handle handle, int timeoutMs)
{
    if (handle < 0)
        return false;
    pollfd p{static_cast<int>(handle), POLLIN, 0};
    const long long deadline = nowMs() + (timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
        const long long left = deadline - nowMs();
        const int r = ::poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
        if (r > 0)
            return true; // readable, or hung up: the next read tells which
        if (r == 0 || errno != EINTR)
            return false;
    }
}

void discardInput(Handle handle)
{
    if (handle >= 0)
        ::tcflush(static_cast<int>(handle), TCIFLUSH);
}

long write(Handle handle, const char *data, long count)
{
    if (handle < 0 || count < 0 || (count > 0 && !data))
        return -1;
    const int fd = static_cast<int>(handle);
    // No SIGPIPE can come of this: terminals report a lost other end as EIO,
    // and anything pipe-like is opened for reading and writing, so it always
    // has a reader.
    long done = 0;
    long long lastProgress = nowMs();
    while (done < count) {
        const ssize_t n = ::write(fd, data + done, static_cast<size_t>(count - done));
        if (n > 0) {
            done += n;
            lastProgress = nowMs();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            break; // device gone or not writable
        // The driver's queue is full: wait until it takes more, but not for ever.
        const long long left = WriteStallMs - (nowMs() - lastProgress);
        if (left <= 0)
            break;
        pollfd p{fd, POLLOUT, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left));
        if (r < 0 && errno != EINTR)
            break;
        if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(p.revents & POLLOUT))
            break;
    }
    return done;
}

} // namespace SerialPort
