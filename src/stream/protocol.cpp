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
    for (int type = RmsLevel; type <= Status; ++type) {
        if (TypeLetters[type] == c)
            return type;
    }
    return NoMessageType;
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
