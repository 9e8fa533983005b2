#include "portssandbox.h"

#include "portscan.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QtGlobal>

#include <unistd.h>

PortsSandbox::PortsSandbox()
    : hadDataHome(qEnvironmentVariableIsSet("XDG_DATA_HOME")),
      hadConfigHome(qEnvironmentVariableIsSet("XDG_CONFIG_HOME"))
{
    oldDataHome = qgetenv("XDG_DATA_HOME");
    oldConfigHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.path() + QStringLiteral("/data")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configDir()));
    // QSettings reads where the settings live only once a run: point it at
    // this sandbox's folder, so that no test finds what an earlier one
    // stored (the port the meter was found on, the last file saved).
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, configDir());
    ports = PortScan::portsFolder();
    QDir().mkpath(portsDir());
    QDir().mkpath(configDir());
    for (int i = 1; i <= 20; ++i)
        block(QStringLiteral("COM%1").arg(i));
}

PortsSandbox::~PortsSandbox()
{
    if (hadDataHome)
        qputenv("XDG_DATA_HOME", oldDataHome);
    else
        qunsetenv("XDG_DATA_HOME");
    if (hadConfigHome)
        qputenv("XDG_CONFIG_HOME", oldConfigHome);
    else
        qunsetenv("XDG_CONFIG_HOME");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       hadConfigHome ? QFile::decodeName(oldConfigHome)
                                     : QDir::homePath() + QStringLiteral("/.config"));
}

QString PortsSandbox::portsDir() const
{
    return ports;
}

QString PortsSandbox::configDir() const
{
    return dir.path() + QStringLiteral("/config");
}

bool PortsSandbox::link(const QString &comName, const QString &target) const
{
    const QByteArray path = QFile::encodeName(portsDir() + QLatin1Char('/') + comName);
    ::unlink(path.constData());
    return ::symlink(QFile::encodeName(target).constData(), path.constData()) == 0;
}

bool PortsSandbox::block(const QString &comName) const
{
    return link(comName, dir.path() + QStringLiteral("/no-such-device/") + comName);
}
