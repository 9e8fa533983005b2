#ifndef PORTSCAN_H
#define PORTSCAN_H

#include <QString>
#include <QStringList>

// The names of the serial ports, as the program, the command-line tool and
// the simulated meter know them.
namespace PortScan {

// The ports the search probes, in order: "COM1" to "COM20".
QStringList portNames();
// n for a name "COMn" (upper case, n from 1 to 255 without leading zeros),
// 0 for anything else. The search probes 1 to 20.
int comNumber(const QString &name);
// The ports folder: an entry named after a COM name (usually a symbolic
// link) says which device the name opens, or blocks it with a link to
// nowhere. <per-user data folder>/VRZ/tavrold/ports.
QString portsFolder();

} // namespace PortScan

#endif // PORTSCAN_H
