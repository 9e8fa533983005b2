#ifndef SANDBOXEDMETER_H
#define SANDBOXEDMETER_H

#include "portssandbox.h"
#include "ptymeter.h"

#include <QByteArray>
#include <QString>

// A sandboxed ports folder with one meter on a pseudo-terminal at a COM name,
// answering the search ("#v;") with "M" and firmware 21; every other name is
// blocked.
struct SandboxedMeter
{
    explicit SandboxedMeter(const QString &comName) : meter(sandbox, comName)
    {
        meter.setReply("#v;", identification());
    }

    static QByteArray identification() { return QByteArray("M\x15"); }

    PortsSandbox sandbox;
    PtyMeter meter;
};

#endif // SANDBOXEDMETER_H
