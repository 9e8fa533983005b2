#ifndef CLITOOL_H
#define CLITOOL_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>

#include <csignal>
#include <sys/types.h>
#include <unistd.h>

// One run of the built command-line tool (tavrold-cli), in the test's
// environment: a test makes a PortsSandbox first, so the tool sees the
// sandbox's ports folder and nothing else. Its standard output and error are
// pipes, never a terminal. Waiting runs the event loop, so that a PtyMeter
// of the test keeps answering meanwhile. Kept in the header: the tool's path
// is known only to the test programs (TAVROLD_CLI_PATH).
class CliTool
{
public:
    ~CliTool()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    static QString program()
    {
#ifdef TAVROLD_CLI_PATH
        return QString::fromLocal8Bit(TAVROLD_CLI_PATH);
#else
        return QString();
#endif
    }

    // It runs as this user and group (e.g. 65534, nobody and nogroup): the
    // test runs as root.
    void runAs(uid_t user)
    {
        process.setChildProcessModifier([user] {
            if (::setgid(gid_t(user)) != 0 || ::setuid(user) != 0)
                ::_exit(127);
        });
    }

    // Its standard output goes to this file instead of a pipe.
    void setOutputFile(const QString &fileName)
    {
        process.setStandardOutputFile(fileName);
    }

    bool start(const QStringList &arguments)
    {
        process.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
        clock.start();
        process.start(program(), arguments);
        return process.waitForStarted(10000);
    }

    // Starts the tool with its standard output piped into `reader` (a shell
    // command such as "head -n 3"); the exit code is still the tool's.
    bool startPiped(const QStringList &arguments, const QString &reader)
    {
        return startShell(QStringLiteral("\"$0\" \"$@\" | ") + reader +
                              QStringLiteral("; exit ${PIPESTATUS[0]}"),
                          arguments);
    }

    // Waits for the tool to end; false when it is still running.
    bool waitForExit(int timeoutMs = 60000)
    {
        const bool ended =
            QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs);
        if (ended)
            elapsed = clock.elapsed();
        collect();
        return ended;
    }

    // Starts the tool and waits for its end.
    bool run(const QStringList &arguments, int timeoutMs = 60000)
    {
        return start(arguments) && waitForExit(timeoutMs);
    }

    // Waits until its standard output holds `lines` complete lines.
    bool waitForLines(int lines, int timeoutMs = 30000)
    {
        return QTest::qWaitFor(
                   [&] {
                       collect();
                       return out.count('\n') >= lines || process.state() == QProcess::NotRunning;
                   },
                   timeoutMs) &&
               out.count('\n') >= lines;
    }

    // Waits until its standard error holds `text`.
    bool waitForError(const QByteArray &text, int timeoutMs = 30000)
    {
        return QTest::qWaitFor(
            [&] {
                collect();
                return err.contains(text);
            },
            timeoutMs);
    }

    qint64 pid() const
    {
        return process.processId();
    }

    void signal(int signalNumber)
    {
        ::kill(pid_t(process.processId()), signalNumber);
    }

    // Waits until the tool has a handler of its own for the signal (it has
    // got as far as its command), from the signals its process catches.
    bool waitUntilCatches(int signalNumber, int timeoutMs = 30000)
    {
        return QTest::qWaitFor(
            [&]() -> bool {
                QFile status(QStringLiteral("/proc/%1/status").arg(process.processId()));
                if (!status.open(QIODevice::ReadOnly))
                    return false;
                for (const QByteArray &line : status.readAll().split('\n'))
                    if (line.startsWith("SigCgt:"))
                        return (line.mid(7).trimmed().toULongLong(nullptr, 16) >>
                                (signalNumber - 1)) &
                               1U;
                return false;
            },
            timeoutMs);
    }

    // Exited by itself (no crash, no signal) with this code; -1 otherwise.
    int exitCode() const
    {
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    // Time since the start, up to its end once it has ended.
    qint64 elapsedMs() const
    {
        return elapsed >= 0 ? elapsed : clock.elapsed();
    }

    QByteArray out;
    QByteArray err;

private:
    bool startShell(const QString &script, const QStringList &arguments)
    {
        process.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
        clock.start();
        process.start(QStringLiteral("bash"),
                      QStringList{QStringLiteral("-c"), script, program()} + arguments);
        return process.waitForStarted(10000);
    }

    void collect()
    {
        out += process.readAllStandardOutput();
        err += process.readAllStandardError();
    }

    QProcess process;
    QElapsedTimer clock;
    qint64 elapsed = -1;
};

#endif // CLITOOL_H
