#ifndef PORTSSANDBOX_H
#define PORTSSANDBOX_H

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Redirects the per-user data and config folders (XDG_DATA_HOME,
// XDG_CONFIG_HOME) into a temporary folder for the lifetime of the object and
// blocks all twenty COM names with dangling links in the ports folder, so
// that nothing in a test can reach a real serial port. A test opens single
// names again by linking them to its own devices (see PtyMeter).
class PortsSandbox
{
public:
    PortsSandbox();
    ~PortsSandbox();

    PortsSandbox(const PortsSandbox &) = delete;
    PortsSandbox &operator=(const PortsSandbox &) = delete;

    QString root() const { return dir.path(); }
    QString portsDir() const;
    QString configDir() const;

    // Points a COM name at a device (replacing whatever link was there).
    bool link(const QString &comName, const QString &target) const;
    // Makes a COM name a dangling link again: opening it fails.
    bool block(const QString &comName) const;

private:
    QTemporaryDir dir;
    QString ports;
    QByteArray oldDataHome;
    QByteArray oldConfigHome;
    bool hadDataHome;
    bool hadConfigHome;
};

#endif // PORTSSANDBOX_H
