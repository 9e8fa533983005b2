// The serial layer on Windows: a COM port opened with CreateFileA and set up
// with a DCB, plain synchronous I/O.

#include "serialport.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstring>

namespace SerialPort {

namespace {

static_assert(sizeof(DCB) == 28, "the DCB is passed with DCBlength 28");
static_assert(sizeof(Handle) == sizeof(HANDLE), "a Handle holds a HANDLE");

HANDLE toHandle(Handle handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

// What a port whose device has left (a USB adapter pulled out, the other end
// of the line gone) answers; line errors fail nothing (fAbortOnError is 0).
bool meansDeviceGone(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_OPERATION_ABORTED:
    case ERROR_GEN_FAILURE:
    case ERROR_INVALID_HANDLE:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_NOT_READY:
        return true;
    default:
        return false;
    }
}

} // namespace

Handle open(const char *devicePath, OpenFailure *failure)
{
    OpenFailure ignored;
    OpenFailure &why = failure ? *failure : ignored;
    why = OpenFailure::Missing;
    if (!devicePath || !*devicePath)
        return InvalidHandle;
    // Share mode 0: a port that another program holds cannot be opened.
    const HANDLE h = ::CreateFileA(devicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        // Windows refuses a COM port that another program holds with "access
        // denied"; a port that is not there is not found.
        switch (::GetLastError()) {
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            why = OpenFailure::InUse;
            break;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            break;
        default:
            why = OpenFailure::Other;
            break;
        }
        return InvalidHandle;
    }
    why = OpenFailure::None;
    return reinterpret_cast<Handle>(h);
}

bool configure(Handle handle)
{
    if (handle == InvalidHandle)
        return false;
    const HANDLE h = toHandle(handle);

    // 9600 baud, 8N2, raw bytes, no handshake, DTR and RTS inactive. The
    // port's current settings are not fetched: every member not set here is 0.
    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = 9600;
    dcb.fBinary = 1;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = TWOSTOPBITS;
    if (!::SetCommState(h, &dcb))
        return false;

    // Reads return at once with what has arrived; writes have no time limit.
    COMMTIMEOUTS timeouts;
    std::memset(&timeouts, 0, sizeof timeouts);
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    if (!::SetCommTimeouts(h, &timeouts))
        return false;

    return ::SetupComm(h, 4096, 4096) != FALSE;
}

void close(Handle handle)
{
    if (handle == InvalidHandle)
        return;
    ::CloseHandle(toHandle(handle));
}

int read(Handle handle, char *buffer, int maxCount, bool *deviceGone)
{
    if (deviceGone)
        *deviceGone = false;
    if (handle == InvalidHandle || !buffer || maxCount <= 0)
        return 0;
    const HANDLE h = toHandle(handle);
    // A failing read leaves the count at 0: nothing received.
    DWORD received = 0;
    const BOOL ok = ::ReadFile(h, buffer, static_cast<DWORD>(maxCount), &received, nullptr);
    if (deviceGone) {
        if (!ok) {
            *deviceGone = meansDeviceGone(::GetLastError());
        } else if (received == 0) {
            // A read may go on answering with nothing after the device has
            // left (Wine does, on a terminal whose other end has closed);
            // the driver's status call fails then. On a port that is there
            // it succeeds, however silent the line.
            DWORD errors = 0;
            COMSTAT status;
            std::memset(&status, 0, sizeof status);
            if (!::ClearCommError(h, &errors, &status))
                *deviceGone = meansDeviceGone(::GetLastError());
        }
    }
    return received <= static_cast<DWORD>(maxCount) ? static_cast<int>(received) : 0;
}

bool waitReadable(Handle handle, int timeoutMs)
{
    if (handle == InvalidHandle)
        return false;
    // Synchronous handles cannot wait for a communication event with a time
    // limit; look at the input queue every few milliseconds instead.
    const HANDLE h = toHandle(handle);
    const ULONGLONG deadline = ::GetTickCount64() + ULONGLONG(timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
        DWORD errors = 0;
        COMSTAT status;
        std::memset(&status, 0, sizeof status);
        if (!::ClearCommError(h, &errors, &status) || status.cbInQue > 0)
            return true; // bytes waiting, or the port has failed: the next read tells
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline)
            return false;
        const ULONGLONG left = deadline - now;
        ::Sleep(DWORD(left < 5 ? left : 5));
    }
}

void discardInput(Handle handle)
{
    if (handle != InvalidHandle)
        ::PurgeComm(toHandle(handle), PURGE_RXCLEAR);
}

long write(Handle handle, const char *data, long count)
{
    if (handle == InvalidHandle || count < 0 || (count > 0 && !data))
        return -1;
    // One synchronous call; with no write time-outs it returns once the driver
    // has taken every byte (or the port has failed).
    DWORD written = 0;
    ::WriteFile(toHandle(handle), data, static_cast<DWORD>(count), &written, nullptr);
    return static_cast<long>(written);
}

} // namespace SerialPort
