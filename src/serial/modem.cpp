#include "modem.h"

#include "portscan.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include <cstring>

namespace {

QString noPort()
{
    return QStringLiteral("?");
}

#ifndef Q_OS_WIN
// The ports folder lets a user (or a test) point a COM name at any device, or
// block it with a link to nowhere.
QString portsFolderEntry(const QString &name)
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name == QLatin1String(".") ||
        name == QLatin1String(".."))
        return QString();
    const QString folder = PortScan::portsFolder();
    if (folder.isEmpty())
        return QString();
    const QString entry = folder + QLatin1Char('/') + name;
    const QFileInfo info(entry);
    return info.isSymLink() || info.exists() ? entry : QString();
}
#endif

} // namespace

Modem::Modem() : portHandle(SerialPort::InvalidHandle) {}

Modem::~Modem()
{
    // Closes the port it holds: once the channel is gone, nothing holds it.
    SerialPort::close(portHandle);
}

QString Modem::devicePath(const QString &name)
{
#ifdef Q_OS_WIN
    // Ports above COM9 are only reachable through the device namespace.
    return QString::fromLatin1(SerialPort::windowsDevicePrefix(std::size_t(name.size()))) + name;
#else
    const QString entry = portsFolderEntry(name);
    if (!entry.isEmpty())
        return entry;
    // COM1..COM4 are the mainboard's ports, COM5..COM12 USB adapters,
    // COM13..COM20 USB modems (CDC ACM).
    const int n = PortScan::comNumber(name);
    if (n >= 1 && n <= 4)
        return QStringLiteral("/dev/ttyS%1").arg(n - 1);
    if (n >= 5 && n <= 12)
        return QStringLiteral("/dev/ttyUSB%1").arg(n - 5);
    if (n >= 13 && n <= 20)
        return QStringLiteral("/dev/ttyACM%1").arg(n - 13);
    return name;
#endif
}

bool Modem::openPort(const QString &name)
{
    lost = false;
    readBack.clear();
    // A channel holds one port; a handle left from before is let go first.
    if (portHandle != SerialPort::InvalidHandle) {
        SerialPort::close(portHandle);
        portHandle = SerialPort::InvalidHandle;
    }

#ifdef Q_OS_WIN
    const QByteArray path = devicePath(name).toLocal8Bit();
#else
    const QByteArray path = QFile::encodeName(devicePath(name));
#endif
    // A failed configuration keeps the handle: the caller's closePort()
    // releases it.
    portHandle = SerialPort::open(path.constData(), &failure);
    if (portHandle == SerialPort::InvalidHandle || !SerialPort::configure(portHandle)) {
        if (portHandle != SerialPort::InvalidHandle)
            failure = SerialPort::OpenFailure::Other;
        failedName = name;
        failedDevice = QFile::decodeName(path);
        emit setTtyText(noPort());
        return false;
    }
    emit setTtyText(name);
    return true;
}

bool Modem::closePort()
{
    // Keeps why the open before failed: the search closes every port that
    // would not open, and says why afterwards.
    lost = false;
    readBack.clear();
    if (portHandle != SerialPort::InvalidHandle) {
        SerialPort::close(portHandle);
        portHandle = SerialPort::InvalidHandle;
    }
    emit setTtyText(noPort());
    return true;
}

QString Modem::openFailureText() const
{
    switch (failure) {
    case SerialPort::OpenFailure::NoAccess: {
        // The device file itself (a link in the ports folder leads to it), and
        // the group whose members may open it: "dialout" on most systems,
        // "uucp" on some.
        QString real = QFileInfo(failedDevice).canonicalFilePath();
        if (real.isEmpty())
            real = failedDevice;
        const QFileInfo device(real);
        const QString group =
            device.group().isEmpty() ? QString::number(device.groupId()) : device.group();
        return tr("Kein Zugriff auf %1 (%2): Gruppe %3 fehlt").arg(real, failedName, group);
    }
    case SerialPort::OpenFailure::InUse:
        return tr("%1 ist von einem anderen Programm belegt").arg(failedName);
    default:
        return QString();
    }
}

int Modem::readBytes(char *buffer, int maxCount)
{
    if (portHandle == SerialPort::InvalidHandle || !buffer || maxCount <= 0)
        return 0;
    if (!readBack.isEmpty()) {
        const int n = int(qMin<qsizetype>(maxCount, readBack.size()));
        std::memcpy(buffer, readBack.constData(), size_t(n));
        readBack.remove(0, n);
        return n;
    }
    const int n = SerialPort::read(portHandle, buffer, maxCount, &lost);
    return n >= 0 && n <= maxCount ? n : 0;
}

bool Modem::waitForReadyRead(int msecs)
{
    if (!readBack.isEmpty() && portHandle != SerialPort::InvalidHandle)
        return true;
    return SerialPort::waitReadable(portHandle, msecs);
}

bool Modem::writeString(const QString &text)
{
    if (portHandle == SerialPort::InvalidHandle)
        return false;
    QByteArray bytes = text.toLocal8Bit();
    // Only the bytes before the first NUL go out.
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    if (bytes.isEmpty())
        return true;
    return SerialPort::write(portHandle, bytes.constData(), long(bytes.size())) ==
           long(bytes.size());
}

bool Modem::writeByte(char value)
{
    if (portHandle == SerialPort::InvalidHandle)
        return false;
    return SerialPort::write(portHandle, &value, 1) == 1;
}

void Modem::discardInput()
{
    readBack.clear();
    SerialPort::discardInput(portHandle);
}

void Modem::unread(const QByteArray &bytes)
{
    readBack.prepend(bytes);
}
