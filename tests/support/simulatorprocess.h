#ifndef SIMULATORPROCESS_H
#define SIMULATORPROCESS_H

#include "portssandbox.h"

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>

#include <csignal>
#include <sys/types.h>

// One run of the simulated meter (tavrold-sim), with its ports folder under a
// data folder of the test's: it links its COM name there to its
// pseudo-terminal. Kept in the header: the simulator's path is known only to
// the test programs (TAVROLD_SIM_PATH), not to the support library.
class SimulatorProcess
{
public:
    explicit SimulatorProcess(const QString &dataHome) : home(dataHome) {}
    // In the sandbox's data folder, where the program looks for its ports.
    explicit SimulatorProcess(const PortsSandbox &sandbox)
        : home(sandbox.root() + QStringLiteral("/data"))
    {
    }
    ~SimulatorProcess()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(5000))
                process.kill();
            process.waitForFinished(2000);
        }
    }

    SimulatorProcess(const SimulatorProcess &) = delete;
    SimulatorProcess &operator=(const SimulatorProcess &) = delete;

    // The simulator as built beside the tests; empty where it is not built.
    static QString program()
    {
#ifdef TAVROLD_SIM_PATH
        return QString::fromLocal8Bit(TAVROLD_SIM_PATH);
#else
        return QString();
#endif
    }

    // Starts the simulator; true once it reports that it is listening.
    bool start(const QStringList &arguments)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home);
        process.setProcessEnvironment(environment);
        process.start(program(), arguments);
        if (!process.waitForStarted(5000))
            return false;
        return QTest::qWaitFor(
                   [&] {
                       return output().contains(QLatin1String("listening")) ||
                              process.state() != QProcess::Running;
                   },
                   10000) &&
               output().contains(QLatin1String("listening"));
    }

    bool waitForExit(int timeoutMs = 5000)
    {
        return process.state() == QProcess::NotRunning || process.waitForFinished(timeoutMs);
    }

    // The device a COM name links to in its ports folder.
    QString linkTarget(const QString &comName) const
    {
        return QFile::symLinkTarget(home + QStringLiteral("/VRZ/tavrold/ports/") + comName);
    }

    // All it has written to its standard output and error so far.
    QString output()
    {
        standardOutput += process.readAllStandardOutput();
        return QString::fromLocal8Bit(standardOutput);
    }
    QString errors()
    {
        standardError += process.readAllStandardError();
        return QString::fromLocal8Bit(standardError);
    }

    void signal(int signalNumber)
    {
        ::kill(pid_t(process.processId()), signalNumber);
    }
    QProcess::ExitStatus exitStatus() const
    {
        return process.exitStatus();
    }
    int exitCode() const
    {
        return process.exitCode();
    }

private:
    QString home;
    QProcess process;
    QByteArray standardOutput;
    QByteArray standardError;
};

#endif // SIMULATORPROCESS_H
