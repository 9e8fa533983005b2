#ifndef PROTOCOL_H
#define PROTOCOL_H

#include <QString>

// The conversation with the meter: the four three-byte commands, the
// identification reply, the type letters of the message stream and the way
// the meter's numbers are read.
namespace Protocol {

// The line: 9600 baud, and 11 bits a byte (a start bit, 8 data bits, no
// parity, 2 stop bits).
inline constexpr int LineBaud = 9600;
inline constexpr int LineBitsPerByte = 11;

// Commands, program to meter.
inline constexpr char IdentifyCommand[] = "#v;"; // is a meter on this port?
inline constexpr char StreamCommand[] = "#o;";   // start streaming readings
inline constexpr char DownloadCommand[] = "#d;"; // send the recorded data sets
inline constexpr char StopCommand[] = "#c;";     // the program ends

// The meter answers "#v;" with "M" and its firmware number, a signed byte
// that must be greater than 10. A meter that is still streaming puts its
// reply between two messages, and no message holds an "M": the reply is the
// first "M" among the bytes that is followed by a valid firmware number.
// The position just after it (the stream goes on there), or -1 when the
// bytes hold no reply; *firmwareNumber is set to the number, 0 without one.
inline constexpr char ReplyMark = 'M';
int findIdentificationReply(const char *bytes, int count, int *firmwareNumber);

// Messages, meter to program: '@', a body of type letter and value text in
// any order, ';'.
inline constexpr char MessageStart = '@';
inline constexpr char MessageEnd = ';';
inline constexpr char SectionSeparator = '*';
// No real message comes near this many characters of value text; the text
// of a longer one is noise. It is never kept beyond this bound.
inline constexpr int MaxValueTextLength = 256;

// The two kinds of level the meter measures, everywhere in the program;
// their values index arrays of one entry per kind.
enum LevelKind { Rms = 0, Pep = 1 };
inline constexpr int LevelKindCount = 2;

// A level message's type is its kind.
enum MessageType {
    NoMessageType = -1,
    RmsLevel = Rms,     // 'a'
    PepLevel = Pep,     // 'b'
    DownloadHeader = 2, // 'k'
    DataSet = 3,        // 'd'
    Status = 4          // 's'
};

// The type letters, in the order of the types.
inline constexpr char TypeLetters[] = {'a', 'b', 'k', 'd', 's'};
// The message type a byte selects, or NoMessageType for any other byte.
int messageTypeOf(char c);

// The firmware as the window title and the command-line tool show it:
// "FW:2.xx" for the firmware number 21.
QString firmwareText(int firmwareNumber);

// Numbers from the meter: decimals with '.' whatever the user's locale,
// integers in base 10. Anything that does not read as a finite number that
// fits counts as 0.
double readDecimal(const QString &text);
int readInteger(const QString &text);
// A decimal cut toward zero to a whole number; 0 when it does not fit.
int readTruncated(const QString &text);

// Section `index` of a text split at '*'; a missing section is empty.
QString section(const QString &text, int index);
// The text without its space characters (only ' ', no other white space).
QString withoutBlanks(QString text);

} // namespace Protocol

#endif // PROTOCOL_H
