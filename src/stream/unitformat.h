#ifndef UNITFORMAT_H
#define UNITFORMAT_H

#include <QString>

// Powers and voltages as short display texts with an automatically chosen
// prefix and about four significant digits ("19.95 mW", "15.12 mV").
namespace UnitFormat {

// Watts, in kW down to fW; kilowatts have no upper bound.
QString power(double watts);
// Volts, in V down to nV; volts have no upper bound.
QString voltage(double volts);

} // namespace UnitFormat

#endif // UNITFORMAT_H
