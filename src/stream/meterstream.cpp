#include "meterstream.h"

#include "livedisplay.h"

int MeterStream::take(const char *bytes, int count)
{
    // The ring is decoded empty after every intake, so it never overflows.
    const int taken = qBound(0, count, IntakeLimit);
    for (int i = 0; i < taken; ++i) {
        rxRing[rxHead] = bytes[i];
        if (++rxHead >= RxRingSize)
            rxHead = 0;
    }
    return taken;
}

// '@' opens a message, a type letter sets its type (which stays from one
// message to the next), any other byte - '@' included - adds to its value
// text, and ';' ends it. Bytes outside a message are dropped.
// The text never grows past MaxValueTextLength: a character that would take
// it past the bound first squeezes the blanks out of it (levels and data
// sets are read without them anyway); when it is full all the same, the
// message is overlong. An overlong data set still takes its place in the
// store, with an empty text (its levels read as 0), so that the data sets
// after it keep their indices; any other overlong message is dropped.
void MeterStream::decode(Receiver &receiver)
{
    using namespace Protocol;
    for (; rxTail != rxHead; rxTail = rxTail + 1 >= RxRingSize ? 0 : rxTail + 1) {
        const char c = rxRing[rxTail];
        if (!inMessage) {
            inMessage = c == MessageStart;
            continue;
        }
        if (c == MessageEnd) {
            if (messageText.size() > MaxValueTextLength && messageType == DataSet)
                messageText.resize(0);
            if (messageText.size() <= MaxValueTextLength)
                messageEnded(receiver);
            messageText.resize(0); // the buffer is kept for the next message
            inMessage = false;
            continue;
        }
        const int type = messageTypeOf(c);
        if (type != NoMessageType) {
            messageType = type;
            continue;
        }
        if (messageText.size() >= MaxValueTextLength) {
            if (messageText.size() > MaxValueTextLength || c == ' ')
                continue; // already overlong, or a blank that would be squeezed out
            messageText.remove(QLatin1Char(' '));
            if (messageText.size() >= MaxValueTextLength) {
                messageText.append(QLatin1Char(c)); // one past the bound: overlong
                continue;
            }
        }
        messageText.append(QLatin1Char(c));
    }
}

void MeterStream::feed(const char *bytes, qint64 count, Receiver &receiver)
{
    for (qint64 done = 0; done < count;) {
        done += take(bytes + done, int(qMin<qint64>(count - done, IntakeLimit)));
        decode(receiver);
    }
}

void MeterStream::restart()
{
    rxHead = rxTail = 0;
    inMessage = false;
    messageType = Protocol::NoMessageType;
    messageText.clear();
}

void MeterStream::messageEnded(Receiver &receiver)
{
    switch (messageType) {
    case Protocol::RmsLevel:
    case Protocol::PepLevel:
        // The level with the blanks taken out, with the head in force now.
        receiver.reading({Protocol::LevelKind(messageType),
                          Protocol::readDecimal(Protocol::withoutBlanks(messageText)),
                          LiveDisplay::isAudioHead(meterStatus.headType)});
        break;
    case Protocol::Status:
        takeStatus();
        receiver.status(meterStatus);
        break;
    case Protocol::DownloadHeader:
        receiver.downloadHeader(messageText);
        break;
    case Protocol::DataSet:
        receiver.dataSet(messageText);
        break;
    default:
        break; // no type letter seen yet
    }
}

// "head*number*maximum level*attenuator*recording", its sections read as they
// stand (blanks are not removed here). The head counts at once for the
// readings that follow.
void MeterStream::takeStatus()
{
    using namespace Protocol;
    Status &s = meterStatus;
    s.headType = readInteger(section(messageText, 0));
    s.serialNumber = readInteger(section(messageText, 1));
    s.maxLevelDbm = readDecimal(section(messageText, 2));
    s.attenuatorDb = readDecimal(section(messageText, 3));
    s.recordingActive = readInteger(section(messageText, 4));
    if (s.recordingActive == 0 || s.recordingActive == 1)
        s.recording = s.recordingActive == 1;
}
