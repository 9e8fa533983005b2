#ifndef MESSAGESTREAM_H
#define MESSAGESTREAM_H

#include <QString>

#include <functional>

class Modem;

// The meter's stream for a program that reads on its own time: waits for
// bytes without using the processor meanwhile (the channel's
// waitForReadyRead()), takes in all that have come, and walks them through
// the protocol's message rules, handing on every complete message with its
// type and value text. The message state carries over from one read to the
// next, so a message may be split anywhere.
class MessageStream
{
public:
    enum class Read { Bytes, Quiet, Lost };
    using Handler = std::function<void(int messageType, const QString &messageText)>;

    explicit MessageStream(Modem &modem) : modem(modem) {}

    // Waits up to waitMs for bytes, then reads and decodes them: Bytes when
    // some came, Quiet when none came in time, Lost when the device has gone.
    Read readFor(int waitMs, const Handler &onMessage);

    // All bytes taken in so far.
    qint64 bytesRead() const { return total; }

private:
    Modem &modem;
    bool inMessage = false;
    int messageType = -1;
    QString messageText;
    qint64 total = 0;
};

#endif // MESSAGESTREAM_H
