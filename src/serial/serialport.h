#ifndef SERIALPORT_H
#define SERIALPORT_H

// The thin platform layer under Modem: the only code that talks to the
// operating system's serial interface. Free of Qt, so that the Windows half
// can be compiled on its own with any Windows compiler.

#include <cstddef>
#include <cstdint>

namespace SerialPort {

using Handle = std::intptr_t;
constexpr Handle InvalidHandle = -1;

// What Windows needs before a port name of nameLength characters to open
// it: nothing for "COM1" to "COM9", the device namespace "\\.\" for longer
// names ("COM10" and up are reachable only as "\\.\COM10"). Modem and the
// program that tests this layer under Windows both use it.
constexpr const char *windowsDevicePrefix(std::size_t nameLength)
{
    return nameLength > 4 ? "\\\\.\\" : "";
}

// Why a device would not open, as far as its user can do something about it.
enum class OpenFailure {
    None,     // it opened
    Missing,  // there is no such device
    NoAccess, // it exists, but this user may not open it (not in its group)
    InUse,    // another program holds it
    Other     // anything else (it is no terminal, ...)
};

// Opens the device exclusively. InvalidHandle when it cannot be opened, and
// then, if `failure` is given, why.
Handle open(const char *devicePath, OpenFailure *failure = nullptr);
// Applies 9600 baud, 8 data bits, no parity, 2 stop bits, raw bytes, no
// handshake, DTR and RTS inactive, reads that never wait. False on failure;
// the handle stays open then.
bool configure(Handle handle);
// Releases the handle (and the exclusive hold on the port). InvalidHandle is
// ignored.
void close(Handle handle);
// Bytes already received, at most maxCount; never waits. 0 on any failure.
// When nothing came, *deviceGone (if given) tells whether that is because
// the device has gone away (unplugged, its other end closed) rather than a
// silent line.
int read(Handle handle, char *buffer, int maxCount, bool *deviceGone = nullptr);
// Waits until bytes have arrived, the device has gone, or timeoutMs have
// passed, without using the processor meanwhile. True unless the time ran
// out. For programs that read on their own time; the window never waits.
bool waitReadable(Handle handle, int timeoutMs);
// Throws away every byte the driver has received and not yet handed out.
void discardInput(Handle handle);
// Hands the bytes to the driver and returns the number it took: less than
// count on failure, -1 for a bad call. On POSIX a full queue is waited for,
// but a device that takes nothing for a second is given up; on Windows one
// write without a time limit returns once the driver has taken every byte.
long write(Handle handle, const char *data, long count);

} // namespace SerialPort

#endif // SERIALPORT_H
