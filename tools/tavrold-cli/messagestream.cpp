#include "messagestream.h"

#include "modem.h"
#include "protocol.h"

MessageStream::Read MessageStream::readFor(int waitMs, const Handler &onMessage)
{
    if (!modem.waitForReadyRead(waitMs))
        return modem.deviceLost() ? Read::Lost : Read::Quiet;
    // A full-speed line delivers some kilobytes between two wake-ups; at
    // 9600 baud a wake-up brings a message or two.
    char buffer[8192];
    const int count = modem.readBytes(buffer, int(sizeof buffer));
    if (count <= 0)
        return modem.deviceLost() ? Read::Lost : Read::Quiet;
    total += count;
    for (int i = 0; i < count; ++i)
        Protocol::scanByte(buffer[i], inMessage, messageType, messageText,
                           [&] { onMessage(messageType, messageText); });
    return Read::Bytes;
}
