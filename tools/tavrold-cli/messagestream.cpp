#include "messagestream.h"

#include "modem.h"
#include "protocol.h"

#include <utility>

MessageStream::Read MessageStream::readFor(int waitMs, const Handler &onMessage)
{
    if (!pending.isEmpty()) {
        const QByteArray bytes = std::exchange(pending, QByteArray());
        decode(bytes.constData(), int(bytes.size()), onMessage);
        return Read::Bytes;
    }
    if (!modem.waitForReadyRead(waitMs))
        return modem.deviceLost() ? Read::Lost : Read::Quiet;
    // A full-speed line delivers some kilobytes between two wake-ups; at
    // 9600 baud a wake-up brings a message or two.
    char buffer[8192];
    const int count = modem.readBytes(buffer, int(sizeof buffer));
    if (count <= 0)
        return modem.deviceLost() ? Read::Lost : Read::Quiet;
    decode(buffer, count, onMessage);
    return Read::Bytes;
}

void MessageStream::decode(const char *bytes, int count, const Handler &onMessage)
{
    total += count;
    for (int i = 0; i < count; ++i)
        Protocol::scanByte(bytes[i], inMessage, messageType, messageText,
                           [&] { onMessage(messageType, messageText); });
}
