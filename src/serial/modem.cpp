#include "modem.h"

// Placeholder: the channel is filled in by its own change.
Modem::Modem() : portHandle(SerialPort::InvalidHandle) {}
Modem::~Modem() = default;
bool Modem::openPort(const QString &) { emit setTtyText(QStringLiteral("?")); return false; }
bool Modem::closePort() { emit setTtyText(QStringLiteral("?")); return true; }
int Modem::readBytes(char *, int) { return 0; }
bool Modem::writeString(const QString &) { return false; }
bool Modem::writeByte(char) { return false; }
QString Modem::devicePath(const QString &name) { return name; }
