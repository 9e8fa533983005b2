#include "portscan.h"

#include <QRegularExpression>
#include <QStandardPaths>

namespace PortScan {

QStringList portNames()
{
    QStringList names;
    for (int i = 1; i <= 20; ++i)
        names << QString::asprintf("COM%i", i);
    return names;
}

int comNumber(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^COM([1-9][0-9]{0,2})$"));
    const QRegularExpressionMatch match = pattern.match(name);
    const int n = match.hasMatch() ? match.captured(1).toInt() : 0;
    return n <= 255 ? n : 0;
}

QString portsFolder()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return base.isEmpty() ? QString() : base + QStringLiteral("/VRZ/tavrold/ports");
}

} // namespace PortScan
