#include "portscan.h"

namespace PortScan {

QStringList portNames()
{
    QStringList names;
    for (int i = 1; i <= 20; ++i)
        names << QString::asprintf("COM%i", i);
    return names;
}

int nextIndex(int index, int count)
{
    ++index;
    return index >= count ? 0 : index;
}

} // namespace PortScan
