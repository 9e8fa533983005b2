#include "portlink.h"

#include "portscan.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#if defined(__APPLE__) || defined(__FreeBSD__) || defined(__NetBSD__) || defined(__OpenBSD__)
#include <util.h> // openpty
#else
#include <pty.h> // openpty
#endif
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString errnoText(int number = errno)
{
    return QString::fromLocal8Bit(std::strerror(number));
}

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

// The target of a symbolic link, or an empty text when the path is no link.
QString linkTarget(const QString &path)
{
    char buffer[4096];
    const ssize_t length = ::readlink(encoded(path).constData(), buffer, sizeof buffer - 1);
    if (length <= 0)
        return {};
    return QFile::decodeName(QByteArray(buffer, int(length)));
}

bool sameFile(int fd, const QString &path)
{
    struct stat byFd
    {
    };
    struct stat byPath
    {
    };
    return ::fstat(fd, &byFd) == 0 && ::stat(encoded(path).constData(), &byPath) == 0 &&
           byFd.st_dev == byPath.st_dev && byFd.st_ino == byPath.st_ino;
}

} // namespace

PortLink::~PortLink()
{
    close();
}

QString PortLink::linkPath() const
{
    return PortScan::portsFolder() + QLatin1Char('/') + name;
}

// Beside the link, the lock file COMn.pid.
QString PortLink::lockPath() const
{
    return linkPath() + QStringLiteral(".pid");
}

bool PortLink::open(const QString &comName, QString *error)
{
    close();
    name = comName;
    if (!QDir().mkpath(PortScan::portsFolder())) {
        *error = tr("Cannot create the ports folder %1.").arg(PortScan::portsFolder());
        return false;
    }
    QByteArray previousRecord;
    if (!lock(error, &previousRecord))
        return false;
    if (!linkIsFree(previousRecord, error) || !createPty(error) || !placeLink(error)) {
        close();
        return false;
    }
    return true;
}

// Takes the lock file COMn.pid. Its lock lives exactly as long as the process
// that holds it, so a lock that cannot be had means a running simulated meter
// serves the name. What a dead run wrote into the file is handed back.
bool PortLink::lock(QString *error, QByteArray *previousRecord)
{
    const QString path = lockPath();
    for (int attempt = 0; attempt < 10; ++attempt) {
        const int fd = ::open(encoded(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            *error = tr("Cannot open %1: %2").arg(path, errnoText());
            return false;
        }
        QByteArray record(256, '\0');
        const ssize_t length = ::pread(fd, record.data(), size_t(record.size()), 0);
        record.truncate(length > 0 ? int(length) : 0);

        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int reason = errno;
            ::close(fd);
            if (reason == EWOULDBLOCK) {
                const QByteArray pid = record.split('\n').value(0).trimmed();
                *error =
                    QCoreApplication::translate(
                        "PortLink", "%1 is served by another simulated meter (process %2). "
                                    "Stop that one, or choose another name with --port.")
                        .arg(name, pid.isEmpty() ? QStringLiteral("?") : QString::fromLatin1(pid));
            } else {
                *error = tr("Cannot lock %1: %2").arg(path, errnoText(reason));
            }
            return false;
        }
        // A run that just ended may have removed the file between our open and
        // our lock: then the lock is on a file nobody sees any more; try again.
        if (!sameFile(fd, path)) {
            ::close(fd);
            continue;
        }
        lockFd = fd;
        *previousRecord = record;
        return true;
    }
    *error = tr("Cannot lock %1.").arg(path);
    return false;
}

// With the lock held, no live simulated meter serves the name. Whatever link
// is there is either a dead run's (replace it) or somebody else's (keep it).
bool PortLink::linkIsFree(const QByteArray &previousRecord, QString *error) const
{
    const QString path = linkPath();
    struct stat info
    {
    };
    if (::lstat(encoded(path).constData(), &info) != 0) {
        if (errno == ENOENT)
            return true;
        *error = tr("Cannot look at %1: %2").arg(path, errnoText());
        return false;
    }
    if (!S_ISLNK(info.st_mode)) {
        *error = QCoreApplication::translate("PortLink",
                                             "%1 exists and is not a link. Remove it, or choose "
                                             "another name with --port.")
                     .arg(path);
        return false;
    }
    QString target = linkTarget(path);
    if (QDir::isRelativePath(target))
        target = PortScan::portsFolder() + QLatin1Char('/') + target;
    struct stat targetInfo
    {
    };
    if (::stat(encoded(target).constData(), &targetInfo) != 0)
        return true; // dangling: its device is gone
    // The pseudo-terminal a dead run recorded: its number may serve someone
    // else by now, but the link is the dead run's.
    const QByteArray recordedDevice = previousRecord.split('\n').value(1).trimmed();
    if (!recordedDevice.isEmpty() && encoded(target) == recordedDevice)
        return true;
    *error = QCoreApplication::translate("PortLink",
                                         "%1 is linked to %2, which is in use and not served by a "
                                         "simulated meter. Remove the link, or choose another "
                                         "name with --port.")
                 .arg(name, target);
    return false;
}

bool PortLink::createPty(QString *error)
{
    char path[256] = {};
    if (::openpty(&master, &slave, path, nullptr, nullptr) != 0) {
        *error = tr("Cannot create a pseudo-terminal: %1").arg(errnoText());
        return false;
    }
    device = QFile::decodeName(path);
    // A fresh pseudo-terminal echoes and edits lines like a console; a serial
    // line carries raw bytes. The speed is only for show: a pseudo-terminal
    // runs as fast as it is fed.
    termios tio{};
    if (::tcgetattr(slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::cfsetspeed(&tio, B9600);
        tio.c_cflag |= CSTOPB | CLOCAL | CREAD;
        ::tcsetattr(slave, TCSANOW, &tio);
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    // The simulator keeps this handle on the program's end for its whole run,
    // so that the line stays up while the program opens and closes it.
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    return true;
}

void PortLink::unplug()
{
    closePty();
    // A link to a path that never exists: opening the name fails, and a
    // later pseudo-terminal of the same number is not taken for the meter.
    device = PortScan::portsFolder() + QStringLiteral("/.%1.unplugged").arg(name);
    QString error;
    placeLink(&error);
}

bool PortLink::replug(QString *error)
{
    return createPty(error) && placeLink(error);
}

bool PortLink::placeLink(QString *error)
{
    const QByteArray record =
        QByteArray::number(qint64(::getpid())) + '\n' + encoded(device) + '\n';
    if (::ftruncate(lockFd, 0) != 0 ||
        ::pwrite(lockFd, record.constData(), size_t(record.size()), 0) != record.size()) {
        *error = tr("Cannot write %1: %2").arg(lockPath(), errnoText());
        return false;
    }
    // A new link under a temporary name, renamed over the old one: the name
    // is never missing or half made.
    const QByteArray path = encoded(linkPath());
    const QByteArray temporary = encoded(
        PortScan::portsFolder() + QStringLiteral("/.%1.%2.new").arg(name).arg(qint64(::getpid())));
    ::unlink(temporary.constData());
    if (::symlink(encoded(device).constData(), temporary.constData()) != 0 ||
        ::rename(temporary.constData(), path.constData()) != 0) {
        *error = tr("Cannot link %1 to %2: %3").arg(linkPath(), device, errnoText());
        ::unlink(temporary.constData());
        return false;
    }
    linked = true;
    return true;
}

void PortLink::close()
{
    // Remove the link only while it is still ours: never one that somebody
    // put in its place.
    if (linked && linkTarget(linkPath()) == device)
        ::unlink(encoded(linkPath()).constData());
    linked = false;
    unlock();
    closePty();
}

void PortLink::closePty()
{
    if (master >= 0)
        ::close(master);
    if (slave >= 0)
        ::close(slave);
    master = -1;
    slave = -1;
}

void PortLink::unlock()
{
    if (lockFd < 0)
        return;
    const QString path = lockPath();
    if (sameFile(lockFd, path))
        ::unlink(encoded(path).constData());
    ::close(lockFd);
    lockFd = -1;
}
