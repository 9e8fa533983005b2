#include "protocol.h"

#include <QtNumeric>

#include <cmath>
#include <limits>

namespace Protocol {

int findIdentificationReply(const char *bytes, int count, int *firmwareNumber)
{
    if (firmwareNumber)
        *firmwareNumber = 0;
    for (int i = 0; bytes && i + 1 < count; ++i) {
        const int firmware = static_cast<signed char>(bytes[i + 1]);
        if (bytes[i] == ReplyMark && firmware > 10) {
            if (firmwareNumber)
                *firmwareNumber = firmware;
            return i + 2;
        }
    }
    return -1;
}

QString firmwareText(int firmwareNumber)
{
    return QString::asprintf("FW:%i.xx", firmwareNumber / 10);
}

int messageTypeOf(char c)
{
    switch (c) {
    case 'a':
        return RmsLevel;
    case 'b':
        return PepLevel;
    case 'k':
        return DownloadHeader;
    case 'd':
        return DataSet;
    case 's':
        return Status;
    default:
        return NoMessageType;
    }
}

double readDecimal(const QString &text)
{
    bool ok = false;
    const double value = text.toDouble(&ok); // always '.', never the user's locale
    return ok && qIsFinite(value) ? value : 0.0;
}

int readInteger(const QString &text)
{
    // Qt's integer parser ends the text at a NUL character and would read
    // "15\0x" as 15: line noise inside a field must not make a number of it.
    if (text.contains(QChar(u'\0')))
        return 0;
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : 0;
}

int readTruncated(const QString &text)
{
    const double value = std::trunc(readDecimal(text));
    if (value < double(std::numeric_limits<int>::min()) ||
        value > double(std::numeric_limits<int>::max()))
        return 0;
    return static_cast<int>(value);
}

double readLevel(const QString &text)
{
    return readDecimal(withoutBlanks(text));
}

StatusReport readStatus(const QString &text)
{
    StatusReport status;
    status.headType = readInteger(section(text, 0));
    status.serialNumber = readInteger(section(text, 1));
    status.maxLevelDbm = readDecimal(section(text, 2));
    status.attenuatorDb = readDecimal(section(text, 3));
    status.recordingState = readInteger(section(text, 4));
    return status;
}

QString section(const QString &text, int index)
{
    if (index < 0)
        return QString();
    return text.section(QLatin1Char(SectionSeparator), index, index);
}

QString withoutBlanks(QString text)
{
    return text.remove(QLatin1Char(' '));
}

} // namespace Protocol
