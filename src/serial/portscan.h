#ifndef PORTSCAN_H
#define PORTSCAN_H

#include <QStringList>

// The search for the meter: the ports it probes, in order, and how long each
// of its steps waits. Each port is opened and sent "#v;"; the reply counts
// if it has come a second later. The search goes round COM1 to COM20 until a
// meter answers.
namespace PortScan {

// "COM1" to "COM20".
QStringList portNames();
// The position after `index` in a list of `count` ports, back to 0 after
// the last.
int nextIndex(int index, int count);

inline constexpr int FirstStepMs = 200;       // from start to the first port
inline constexpr int ReplyWaitMs = 1000;      // from "#v;" to looking at the reply
inline constexpr int AfterFailedOpenMs = 100; // a port that would not open
inline constexpr int AfterNoReplyMs = 200;    // a port that gave no valid reply

} // namespace PortScan

#endif // PORTSCAN_H
