#include "modem.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

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
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        return QString();
    const QString entry = base + QStringLiteral("/VRZ/tavrold/ports/") + name;
    const QFileInfo info(entry);
    return info.isSymLink() || info.exists() ? entry : QString();
}

// COM1..COM4 are the mainboard's ports, COM5..COM12 USB adapters, COM13..COM20
// USB modems (CDC ACM). 0 when the name is not COMn with n in 1..20.
int comNumber(const QString &name)
{
    if (!name.startsWith(QLatin1String("COM")) || name.size() > 5)
        return 0;
    const QStringView digits = QStringView(name).mid(3);
    if (digits.isEmpty() || digits.front() == QLatin1Char('0'))
        return 0;
    for (const QChar c : digits)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
    const int n = digits.toInt();
    return n >= 1 && n <= 20 ? n : 0;
}
#endif

} // namespace

Modem::Modem() : portHandle(SerialPort::InvalidHandle) {}

Modem::~Modem()
{
    // Release the port with the object, so that nothing holds it once the
    // channel is gone.
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
    const int n = comNumber(name);
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
    portHandle = SerialPort::open(path.constData());
    if (portHandle == SerialPort::InvalidHandle || !SerialPort::configure(portHandle)) {
        emit setTtyText(noPort());
        return false;
    }
    emit setTtyText(name);
    return true;
}

bool Modem::closePort()
{
    lost = false;
    if (portHandle != SerialPort::InvalidHandle) {
        SerialPort::close(portHandle);
        portHandle = SerialPort::InvalidHandle;
    }
    emit setTtyText(noPort());
    return true;
}

int Modem::readBytes(char *buffer, int maxCount)
{
    if (portHandle == SerialPort::InvalidHandle || !buffer || maxCount <= 0)
        return 0;
    const int n = SerialPort::read(portHandle, buffer, maxCount, &lost);
    return n >= 0 && n <= maxCount ? n : 0;
}

bool Modem::waitForReadyRead(int msecs)
{
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
