// A Windows console program that drives the Windows serial layer the way
// Modem does, one command a line on standard input, one answer a line on
// standard output. tst_win32serial runs it under Wine and holds the other
// end of every line (pseudo-terminals), so that all checks live there.
//
// Commands (slot: 0 to 7, a handle the program keeps for the test):
//   where                  "wine <version>" or "windows"
//   open SLOT NAME         opens the port name as Modem does (prefix rule)
//   openpath SLOT PATH     opens PATH exactly as given
//   configure SLOT
//   write SLOT [HEX]       writes the bytes (none without HEX)
//   read SLOT MAX          one read of at most MAX bytes
//   wait SLOT MS           waits for bytes up to MS milliseconds
//   timeouts SLOT          the read time-outs: interval, multiplier, constant (ms)
//   discard SLOT           throws away the bytes received and not yet read
//   close SLOT
//   handles                the number of handles the process holds
//   quit
// Answers start with the command's word; "error ..." for a line it cannot
// parse. Times are in microseconds, measured around the layer's call alone.

#include "serialport.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int SlotCount = 8;
constexpr int MaxRead = 1 << 16;

SerialPort::Handle slots[SlotCount] = {SerialPort::InvalidHandle, SerialPort::InvalidHandle,
                                       SerialPort::InvalidHandle, SerialPort::InvalidHandle,
                                       SerialPort::InvalidHandle, SerialPort::InvalidHandle,
                                       SerialPort::InvalidHandle, SerialPort::InvalidHandle};

class Stopwatch
{
public:
    Stopwatch()
    {
        ::QueryPerformanceFrequency(&frequency);
        ::QueryPerformanceCounter(&start);
    }
    long long elapsedUs() const
    {
        LARGE_INTEGER now;
        ::QueryPerformanceCounter(&now);
        return (now.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart;
    }

private:
    LARGE_INTEGER frequency;
    LARGE_INTEGER start;
};

void answer(const std::string &line)
{
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::vector<std::string> words(const char *line)
{
    std::vector<std::string> list;
    std::string word;
    for (const char *p = line; *p; ++p) {
        if (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') {
            if (!word.empty())
                list.push_back(word);
            word.clear();
        } else {
            word += *p;
        }
    }
    if (!word.empty())
        list.push_back(word);
    return list;
}

bool toNumber(const std::string &text, long &value)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return end && *end == '\0';
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool fromHex(const std::string &hex, std::string &bytes)
{
    if (hex.size() % 2 != 0)
        return false;
    bytes.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = hexDigit(hex[i]);
        const int low = hexDigit(hex[i + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes += char(high * 16 + low);
    }
    return true;
}

std::string toHex(const char *data, int count)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (int i = 0; i < count; ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex.empty() ? std::string("-") : hex;
}

std::string whereWeRun()
{
    // Wine's own ntdll tells its version; Windows has no such export.
    using VersionFunction = const char *(__cdecl *)();
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    const auto version = ntdll ? reinterpret_cast<VersionFunction>(reinterpret_cast<void *>(
                                     ::GetProcAddress(ntdll, "wine_get_version")))
                               : nullptr;
    return version ? std::string("wine ") + version() : std::string("windows");
}

std::string openAnswer(int slot, const std::string &path)
{
    ::SetLastError(0);
    SerialPort::OpenFailure failure = SerialPort::OpenFailure::None;
    const SerialPort::Handle handle = SerialPort::open(path.c_str(), &failure);
    const unsigned long error = ::GetLastError();
    slots[slot] = handle;
    static const char *const reasons[] = {"none", "missing", "noaccess", "inuse", "other"};
    if (handle == SerialPort::InvalidHandle)
        return "open fail " + path + " " + std::to_string(error) + " " +
               reasons[static_cast<int>(failure)];
    return "open ok " + path;
}

std::string run(const std::vector<std::string> &w)
{
    const std::string &command = w[0];
    if (command == "where")
        return "where " + whereWeRun();
    if (command == "handles") {
        DWORD count = 0;
        ::GetProcessHandleCount(::GetCurrentProcess(), &count);
        return "handles " + std::to_string(count);
    }

    long slot = -1;
    if (w.size() < 2 || !toNumber(w[1], slot) || slot < 0 || slot >= SlotCount)
        return "error no slot";
    SerialPort::Handle &handle = slots[slot];

    if (command == "open" && w.size() == 3) {
        // The path as Modem builds it on Windows.
        const std::string &name = w[2];
        return openAnswer(int(slot), SerialPort::windowsDevicePrefix(name.size()) + name);
    }
    if (command == "openpath" && w.size() == 3)
        return openAnswer(int(slot), w[2]);
    if (command == "configure") {
        ::SetLastError(0);
        const bool ok = SerialPort::configure(handle);
        return ok ? std::string("configure ok")
                  : "configure fail " + std::to_string(::GetLastError());
    }
    if (command == "write") {
        std::string bytes;
        if (w.size() > 3 || (w.size() == 3 && !fromHex(w[2], bytes)))
            return "error bad bytes";
        const Stopwatch clock;
        const long written = SerialPort::write(handle, bytes.data(), long(bytes.size()));
        const long long us = clock.elapsedUs();
        return "write " + std::to_string(written) + " us=" + std::to_string(us);
    }
    if (command == "read" && w.size() == 3) {
        long max = 0;
        if (!toNumber(w[2], max) || max < 0 || max > MaxRead)
            return "error bad count";
        static char buffer[MaxRead];
        bool gone = false;
        ::SetLastError(0);
        const Stopwatch clock;
        const int n = SerialPort::read(handle, buffer, int(max), &gone);
        const long long us = clock.elapsedUs();
        const unsigned long error = ::GetLastError();
        return "read " + std::to_string(n) + " " + toHex(buffer, n > 0 ? n : 0) +
               " gone=" + (gone ? "1" : "0") + " error=" + std::to_string(error) +
               " us=" + std::to_string(us);
    }
    if (command == "wait" && w.size() == 3) {
        long ms = 0;
        if (!toNumber(w[2], ms))
            return "error bad time";
        const Stopwatch clock;
        const bool ready = SerialPort::waitReadable(handle, int(ms));
        const long long us = clock.elapsedUs();
        return std::string("wait ") + (ready ? "1" : "0") + " us=" + std::to_string(us);
    }
    if (command == "timeouts") {
        COMMTIMEOUTS t{};
        if (!::GetCommTimeouts(reinterpret_cast<HANDLE>(handle), &t))
            return "timeouts fail " + std::to_string(::GetLastError());
        return "timeouts " + std::to_string(t.ReadIntervalTimeout) + " " +
               std::to_string(t.ReadTotalTimeoutMultiplier) + " " +
               std::to_string(t.ReadTotalTimeoutConstant);
    }
    if (command == "discard") {
        SerialPort::discardInput(handle);
        return "discard";
    }
    if (command == "close") {
        SerialPort::close(handle);
        handle = SerialPort::InvalidHandle;
        return "close";
    }
    return "error unknown command";
}

} // namespace

int main()
{
    answer("ready");
    static char line[1 << 18];
    while (std::fgets(line, sizeof line, stdin)) {
        const std::vector<std::string> w = words(line);
        if (w.empty())
            continue;
        if (w[0] == "quit")
            break;
        answer(run(w));
    }
    for (SerialPort::Handle &handle : slots)
        SerialPort::close(handle);
    answer("bye");
    return 0;
}
