#include "unitformat.h"

#include <iterator>

namespace {

// Prints y with the first unit whose tier holds it. Each tier tests y against
// 100, 10 and 1 and otherwise passes y times 1000 on to the next, smaller
// unit; the last unit takes whatever is left (too small, zero, negative,
// NaN). The tier is chosen on the unrounded value, so 999.96 W prints as
// "1000.0 W", not "1.000 kW".
QString formatScaled(double y, const char *const units[], int unitCount)
{
    for (int i = 0;; ++i, y *= 1000.0) {
        const bool last = i == unitCount - 1;
        if (y >= 100.0)
            return QString::asprintf("%3.1f %s", y, units[i]);
        if (y >= 10.0)
            return QString::asprintf("%2.2f %s", y, units[i]);
        if (y >= 1.0 || last)
            return QString::asprintf("%1.3f %s", y, units[i]);
    }
}

} // namespace

QString UnitFormat::power(double watts)
{
    // Kilowatts have no upper bound: 25 kW prints as "25.000 kW".
    if (watts >= 1000.0)
        return QString::asprintf("%1.3f kW", watts / 1000.0);
    static const char *const units[] = {"W", "mW", "uW", "nW", "pW", "fW"};
    return formatScaled(watts, units, int(std::size(units)));
}

QString UnitFormat::voltage(double volts)
{
    // Volts have no upper bound: 2500 V prints as "2500.0 V".
    static const char *const units[] = {"V", "mV", "uV", "nV"};
    return formatScaled(volts, units, int(std::size(units)));
}
